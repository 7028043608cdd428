#include "client/client_answers.h"

#include "client/wire_format.h"
#include "startup/console.h"

#include <nlohmann/json.hpp>

namespace TessarnFuse {

namespace {

constexpr auto resultCommand = "V2/HYDRATE_FILE_RESULT";
constexpr auto versionCommand = "VERSION";

void handleResult(const std::string& payload, JobTable& jobs)
{
    HydrationAnswer answer;
    try {
        answer = parseHydrationAnswer(payload);
    } catch (const nlohmann::json::exception& e) {
        printError("Invalid JSON message: ", payload, e.what());
        return;
    }
    const auto id = parseDecimal(answer.id, INT32_MIN, INT32_MAX);
    if (!id) {
        printError("Invalid request id in message: ", payload);
        return;
    }
    if (answer.error)
        printError("Error from socket API for Id ", *id, ": ", *answer.error);
    if (*id <= 0)
        return;

    const bool succeeded = !answer.error && answer.status == "OK";
    if (!succeeded)
        printLine("ERROR from socket API for Id", *id);
    const auto waiter = jobs.take(static_cast<std::int32_t>(*id));
    if (!waiter) {
        printLine("Job not found:", *id);
        return;
    }
    printLine("Setting Job ID ", *id, " to result ", succeeded ? 0 : -1);
    if (succeeded)
        waiter->finished(HydrationEnd::Succeeded);
    else
        waiter->finished({HydrationEnd::Failed,
                          answer.errorName.empty() ? 0 : errnoNamed(answer.errorName)});
}

void handleVersion(std::string_view payload, ClientConnection& connection)
{
    const auto fields = splitAt(payload, ':');
    if (fields.size() != 3)
        return;
    printLine("Got PID of the Desktop Client: ", fields[2]);
    const auto pid = parseDecimal(fields[2], INT64_MIN, INT64_MAX);
    if (!pid) {
        printError("Invalid process id in the VERSION answer: ", fields[2]);
        return;
    }
    connection.setClientPid(*pid);
}

} // namespace

void handleClientLine(const std::string& line, JobTable& jobs, ClientConnection& connection)
{
    printLine("Handle single message ", line);
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
        printError("Invalid message format: ", line);
        return;
    }
    const auto command = line.substr(0, colon);
    const auto payload = line.substr(colon + 1);
    if (command == resultCommand)
        handleResult(payload, jobs);
    else if (command == versionCommand)
        handleVersion(payload, connection);
}

} // namespace TessarnFuse
