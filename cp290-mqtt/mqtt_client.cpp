#include "cp290-mqtt/mqtt_client.h"

#include <mosquitto.h>

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>

#include "platform/syslog_log.h"

namespace mqtt {
namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kFirstRetryMs = 1000;
constexpr int kStopWaitMs = 2000;

// libmosquitto is set up once for the whole process.
struct Library {
    Library() { mosquitto_lib_init(); }
    ~Library() { mosquitto_lib_cleanup(); }
};

void ensureLibrary()
{
    static Library library;
}

}  // namespace

MqttClient::MqttClient(ClientSettings settings, QObject* parent) : QObject(parent), m_settings(std::move(settings))
{
    ensureLibrary();
    m_mosq = mosquitto_new(m_settings.clientId.empty() ? nullptr : m_settings.clientId.c_str(), true, this);
    if (!m_mosq)
        return;
    mosquitto_connect_callback_set(m_mosq, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttClient::onDisconnect);
    mosquitto_message_callback_set(m_mosq, &MqttClient::onMessage);
    if (!m_settings.username.empty())
        mosquitto_username_pw_set(m_mosq, m_settings.username.c_str(),
                                  m_settings.password.empty() ? nullptr : m_settings.password.c_str());
    if (m_settings.tls) {
        if (m_settings.cafile.empty())
            mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else
            mosquitto_tls_set(m_mosq, m_settings.cafile.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    if (!m_settings.willTopic.empty())
        mosquitto_will_set(m_mosq, m_settings.willTopic.c_str(), static_cast<int>(m_settings.willPayload.size()),
                           m_settings.willPayload.data(), 1, true);
    m_misc.setInterval(1000);
    connect(&m_misc, &QTimer::timeout, this, [this] { afterLoopCall(mosquitto_loop_misc(m_mosq)); });
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MqttClient::connectNow);
}

MqttClient::~MqttClient()
{
    dropSocket();
    if (m_mosq)
        mosquitto_destroy(m_mosq);
}

std::string MqttClient::errorText(int mosqError)
{
    if (mosqError == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    return mosquitto_strerror(mosqError);
}

std::string MqttClient::refusalText(int connack)
{
    return mosquitto_connack_string(connack);
}

void MqttClient::start()
{
    m_stopped = false;
    m_refused = false;
    m_retryMs = std::min(kFirstRetryMs, m_settings.retryCapMs);
    connectNow();
}

void MqttClient::connectNow()
{
    if (m_stopped || !m_mosq)
        return;
    dropSocket();
    const int rc = mosquitto_connect(m_mosq, m_settings.host.c_str(), m_settings.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        scheduleRetry(errorText(rc));
        return;
    }
    const int fd = mosquitto_socket(m_mosq);
    m_read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_read, &QSocketNotifier::activated, this, [this] { afterLoopCall(mosquitto_loop_read(m_mosq, 1)); });
    m_write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(m_write, &QSocketNotifier::activated, this,
            [this] { afterLoopCall(mosquitto_loop_write(m_mosq, 1)); });
    m_misc.start();
    updateWriteNotifier();
}

void MqttClient::dropSocket()
{
    m_misc.stop();
    // Possibly called from the notifier's own signal: deleted afterwards.
    for (QSocketNotifier** n : {&m_read, &m_write})
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
}

void MqttClient::scheduleRetry(const std::string& why)
{
    const bool was = m_connected;
    m_connected = false;
    dropSocket();
    if (m_mosq)
        mosquitto_disconnect(m_mosq);  // closes what is left of the socket
    if (was)
        emit disconnectedFromBroker();
    if (m_stopped || m_refused)
        return;
    emit connectionFailed(QString::fromStdString(why));
    if (m_stopped)
        return;  // the receiver stopped the client
    // One log line per kind of trouble, not one per retry.
    if (why != m_lastProblem) {
        platform::logf("cp290-mqtt Error - Broker %s:%d not reachable (%s); retrying every %d s at most.\n",
                       m_settings.host.c_str(), m_settings.port, why.c_str(),
                       std::max(1, m_settings.retryCapMs / 1000));
        m_lastProblem = why;
    }
    m_retry.start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, m_settings.retryCapMs);
}

void MqttClient::afterLoopCall(int rc)
{
    if (!m_read)
        return;  // the session ended inside the call
    if (rc != MOSQ_ERR_SUCCESS) {
        scheduleRetry(errorText(rc));
        return;
    }
    updateWriteNotifier();
}

void MqttClient::updateWriteNotifier()
{
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
}

// The callbacks run inside libmosquitto's loop calls, holding its locks: what
// they start runs afterwards, from the event loop.
void MqttClient::onConnect(mosquitto*, void* self, int rc)
{
    auto* c = static_cast<MqttClient*>(self);
    if (rc == 4 || rc == 5) {  // bad user name or password, not authorised: never retried
        c->m_refused = true;
        c->m_stopped = true;
    }
    QMetaObject::invokeMethod(c, [c, rc] { c->connectionAnswered(rc); }, Qt::QueuedConnection);
}

void MqttClient::connectionAnswered(int rc)
{
    if (m_refused) {
        dropSocket();
        emit refused(QString::fromStdString(refusalText(rc)));
        return;
    }
    if (!m_read)
        return;  // lost or stopped meanwhile
    if (rc == 0) {
        m_connected = true;
        m_lastProblem.clear();
        m_retryMs = std::min(kFirstRetryMs, m_settings.retryCapMs);
        platform::logf("cp290-mqtt: connected to broker %s:%d.\n", m_settings.host.c_str(), m_settings.port);
        emit connectedToBroker();
    } else {  // any other refusal (server unavailable, ...) is retried
        scheduleRetry(refusalText(rc));
    }
}

void MqttClient::onDisconnect(mosquitto*, void* self, int rc)
{
    auto* c = static_cast<MqttClient*>(self);
    if (rc == 0 || c->m_stopped)
        return;  // asked for
    QMetaObject::invokeMethod(c, [c, rc] { if (c->m_read) c->scheduleRetry(errorText(rc)); }, Qt::QueuedConnection);
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* msg)
{
    auto* c = static_cast<MqttClient*>(self);
    QMetaObject::invokeMethod(
        c,
        [c, topic = QString::fromUtf8(msg->topic),
         payload = QByteArray(static_cast<const char*>(msg->payload), msg->payloadlen)] {
            emit c->messageArrived(topic, payload);
        },
        Qt::QueuedConnection);
}

bool MqttClient::publish(const std::string& topic, const std::string& payload, bool retain)
{
    if (!m_connected)
        return false;
    const int rc = mosquitto_publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), 1, retain);
    updateWriteNotifier();
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const std::string& pattern)
{
    if (!m_connected)
        return false;
    const int rc = mosquitto_subscribe(m_mosq, nullptr, pattern.c_str(), 1);
    updateWriteNotifier();
    return rc == MOSQ_ERR_SUCCESS;
}

void MqttClient::stop(const std::string& stopPayload)
{
    m_stopped = true;
    m_retry.stop();
    if (!m_connected) {
        dropSocket();
        return;
    }
    if (!m_settings.willTopic.empty())
        mosquitto_publish(m_mosq, nullptr, m_settings.willTopic.c_str(), static_cast<int>(stopPayload.size()),
                      stopPayload.data(), 1, true);
    // The stop payload and the DISCONNECT go out before the socket closes.
    mosquitto_disconnect(m_mosq);
    dropSocket();
    QElapsedTimer t;
    t.start();
    const int fd = mosquitto_socket(m_mosq);
    while (fd >= 0 && mosquitto_want_write(m_mosq) && t.elapsed() < kStopWaitMs) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(kStopWaitMs - t.elapsed())) <= 0)
            break;
        if (mosquitto_loop_write(m_mosq, 1) != MOSQ_ERR_SUCCESS)
            break;
    }
    m_connected = false;
}

}  // namespace mqtt
