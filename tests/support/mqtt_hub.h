#pragma once
// Test helpers for the MQTT bridge: a program running in the background, a
// real `mosquitto` broker on 127.0.0.1 at a free port with its own
// configuration in a temporary folder, and a libmosquitto client playing the
// hub (it records the last payload of every topic it sees).
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/support/test_support.h"

struct mosquitto;

namespace testing_support {

// A program started in the background, its standard output and error going
// to a file; stopped with SIGTERM (then SIGKILL after 5 s) when asked or
// when the object dies.
class Background {
public:
    Background(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env, const std::string& outputFile);
    ~Background();
    // The exit status after SIGTERM (128 + signal when killed); -1 when not running.
    int stop();
    // Waits at most timeoutMs for the program to end on its own: its exit status, or -1.
    int wait(int timeoutMs);
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

class Broker {
public:
    // refuseLogins: no anonymous logins and an empty password file, so
    // every login is refused.
    explicit Broker(bool refuseLogins = false);
    ~Broker();
    void start();  // again after stop(): the same port
    void stop();
    int port() const { return m_port; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    TempDir m_dir;
    int m_port = 0;
    std::unique_ptr<Background> m_process;
};

class HubClient {
public:
    explicit HubClient(int port);
    ~HubClient();
    void subscribe(const std::string& pattern);
    void publish(const std::string& topic, const std::string& payload, bool retain = false);
    // Waits at most timeoutMs until the last payload on `topic` is `payload`.
    bool waitFor(const std::string& topic, const std::string& payload, int timeoutMs = 10000);
    // The last payload seen on each topic.
    std::map<std::string, std::string> seen();
    // Every payload seen on a topic, in order.
    std::vector<std::string> history(const std::string& topic);
    void forget();

private:
    mosquitto* m_mosq = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, std::vector<std::string>> m_messages;
};

}  // namespace testing_support
