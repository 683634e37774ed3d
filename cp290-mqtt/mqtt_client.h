#pragma once
// Program folder cp290-mqtt/: the bridge between the CP290 and an MQTT
// broker (a home-automation hub). Uses core/ and below; no other program
// folder.
//
// MqttClient: one libmosquitto session driven from this program's own Qt
// event loop, without the library's thread. Principles of operation: after
// the blocking TCP connect the session's socket gets a read notifier (incoming
// bytes: mosquitto_loop_read) and a write notifier that is on only while the
// library has bytes queued (mosquitto_want_write: mosquitto_loop_write); a
// one-second timer runs mosquitto_loop_misc for keep-alive pings. A lost or
// refused connection is retried after a back-off that doubles from one
// second up to a cap (retryCapMs; tests shorten it). A broker that refuses
// the user name or password is not retried: refused() is emitted instead.
// The last will is set before every connect, so the broker publishes it when
// this session ends without a clean stop.
#include <QObject>
#include <QTimer>
#include <string>

class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

namespace mqtt {

struct ClientSettings {
    std::string host = "localhost";
    int port = 1883;
    std::string username;  // "": none
    std::string password;
    bool tls = false;
    std::string cafile;    // with tls; "": the system's certificates
    std::string clientId;
    int retryCapMs = 60000;
    // The last will: published by the broker when the session is lost.
    std::string willTopic;
    std::string willPayload;
};

class MqttClient : public QObject {
    Q_OBJECT
public:
    explicit MqttClient(ClientSettings settings, QObject* parent = nullptr);
    ~MqttClient() override;

    // Starts connecting (now, and again after every loss).
    void start();
    // Publishes `stopPayload` on the will topic, disconnects cleanly and
    // waits (bounded) until the bytes are out.
    void stop(const std::string& stopPayload);
    bool connected() const { return m_connected; }

    // Queued with the session (QoS 1); false when there is no session.
    bool publish(const std::string& topic, const std::string& payload, bool retain);
    bool subscribe(const std::string& pattern);

    // A text for people for a libmosquitto result or a CONNACK code.
    static std::string errorText(int mosqError);
    static std::string refusalText(int connack);

signals:
    void connectedToBroker();
    void disconnectedFromBroker();
    // The broker refused this user name or password (CONNACK 4 or 5): the
    // client stays stopped.
    void refused(const QString& reason);
    // A connect failed or a session was lost (retried unless stopped).
    void connectionFailed(const QString& why);
    void messageArrived(const QString& topic, const QByteArray& payload);

private:
    void connectNow();
    void scheduleRetry(const std::string& why);
    void dropSocket();
    void afterLoopCall(int rc);
    void updateWriteNotifier();
    void connectionAnswered(int connack);

    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* msg);

    ClientSettings m_settings;
    mosquitto* m_mosq = nullptr;
    // Children of this client: one dropped from inside its own signal is
    // deleted later, and at the latest with the client.
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    QTimer m_misc;
    QTimer m_retry;
    int m_retryMs = 0;
    bool m_connected = false;
    bool m_stopped = true;
    bool m_refused = false;
    std::string m_lastProblem;  // logged once until the next connection
};

}  // namespace mqtt
