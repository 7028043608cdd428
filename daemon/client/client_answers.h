// What the sync client's lines do: a hydration answer ends its request, a VERSION answer names
// the client's process.
#pragma once

#include "client/client_connection.h"
#include "client/job_table.h"

#include <string>

namespace TessarnFuse {

void handleClientLine(const std::string& line, JobTable& jobs, ClientConnection& connection);

} // namespace TessarnFuse
