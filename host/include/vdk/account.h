// A server account of the client.
#pragma once

#include <QSharedPointer>
#include <QUrl>
#include <QUuid>

namespace VDK {

class Account {
public:
    Account(const QUuid& uuid, const QUrl& url) : m_uuid(uuid), m_url(url) {}

    QUuid uuid() const { return m_uuid; }
    // Where the account's files live. Only "file:" URLs are served so far: a local folder
    // stands for the server, its files at their paths relative to the sync folder.
    QUrl url() const { return m_url; }

private:
    QUuid m_uuid;
    QUrl m_url;
};
using AccountPtr = QSharedPointer<Account>;

} // namespace VDK
