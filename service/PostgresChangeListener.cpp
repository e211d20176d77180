// The notification connection: LISTEN, wait, report, reconnect.
#include "service/PostgresChangeListener.hpp"

#include <libpq-fe.h>

#include <poll.h>

namespace aurelo::service {

PostgresChangeListener::PostgresChangeListener(std::string uri,
                                               std::chrono::milliseconds reconnectPause,
                                               std::function<void(bool)> onListening,
                                               std::function<void()> onChange)
    : m_uri(std::move(uri)), m_reconnectPause(reconnectPause),
      m_onListening(std::move(onListening)), m_onChange(std::move(onChange)),
      m_thread([this](std::stop_token stop) { run(stop); }) {}

PostgresChangeListener::~PostgresChangeListener() {
    m_thread.request_stop();
    if (m_thread.joinable())
        m_thread.join();
}

void PostgresChangeListener::run(std::stop_token stop) {
    const char* keywords[] = {"connect_timeout", "tcp_user_timeout", "keepalives_idle",
                              "keepalives_interval", "keepalives_count", "application_name",
                              "dbname", nullptr};
    const char* values[] = {"3", "5000", "5", "2", "2", "aurelo-service-listener", m_uri.c_str(),
                            nullptr};
    // Short steps, so that a stop is noticed within a fraction of a second.
    auto pause = [&] {
        for (auto slept = std::chrono::milliseconds(0); slept < m_reconnectPause && !stop.stop_requested();
             slept += std::chrono::milliseconds(100))
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    };
    while (!stop.stop_requested()) {
        PGconn* connection = PQconnectdbParams(keywords, values, 1);
        std::string listen = std::string("LISTEN ") + kChannel;
        PGresult* listened = PQstatus(connection) == CONNECTION_OK
                                 ? PQexec(connection, listen.c_str())
                                 : nullptr;
        bool listening = PQresultStatus(listened) == PGRES_COMMAND_OK;
        PQclear(listened);
        if (listening) {
            // Whatever changed while nobody listened is unknown: the cache starts empty.
            m_onListening(true);
            while (!stop.stop_requested()) {
                pollfd descriptor{PQsocket(connection), POLLIN, 0};
                if (::poll(&descriptor, 1, 200) < 0)
                    continue;
                if (!PQconsumeInput(connection) || PQstatus(connection) != CONNECTION_OK)
                    break;
                bool changed = false;
                while (PGnotify* notification = PQnotifies(connection)) {
                    changed = true;
                    PQfreemem(notification);
                }
                if (changed)
                    m_onChange();
            }
            m_onListening(false);
        }
        PQfinish(connection);
        pause();
    }
}

} // namespace aurelo::service
