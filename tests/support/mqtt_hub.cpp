#include "tests/support/mqtt_hub.h"

#include <mosquitto.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_support {
namespace {

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool accepting(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

Background::Background(const std::string& program, const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env, const std::string& outputFile)
{
    const std::string exe = program.find('/') == std::string::npos ? std::string(CP290_BIN_DIR) + "/" + program
                                                                    : program;
    m_pid = fork();
    if (m_pid == 0) {
        const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(out, 1);
        dup2(out, 2);
        const int devnull = ::open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        for (const auto& [k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
}

Background::~Background()
{
    stop();
}

int Background::wait(int timeoutMs)
{
    if (m_pid <= 0)
        return -1;
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

int Background::stop()
{
    if (m_pid <= 0)
        return -1;
    const pid_t pid = m_pid;
    kill(pid, SIGTERM);
    int status = wait(5000);
    if (status < 0 && m_pid > 0) {
        kill(pid, SIGKILL);
        status = wait(5000);
    }
    return status;
}

Broker::Broker(bool refuseLogins) : m_port(freePort())
{
    // Started by root, the broker would change to its own user, who may not
    // read this folder.
    std::string conf = "listener " + std::to_string(m_port) + " 127.0.0.1\npersistence false\nuser " +
                       (getpwuid(geteuid()) ? getpwuid(geteuid())->pw_name : "root") + "\n";
    if (refuseLogins) {
        writeFile(m_dir.file("passwords"), "");
        conf += "allow_anonymous false\npassword_file " + m_dir.file("passwords") + "\n";
    } else {
        conf += "allow_anonymous true\n";
    }
    writeFile(m_dir.file("mosquitto.conf"), conf);
    start();
}

Broker::~Broker()
{
    stop();
}

void Broker::start()
{
    m_process = std::make_unique<Background>("/usr/sbin/mosquitto",
                                             std::vector<std::string>{"-c", m_dir.file("mosquitto.conf")},
                                             std::map<std::string, std::string>{}, m_dir.file("broker.log"));
    for (int waited = 0; waited < 5000 && !accepting(m_port); waited += 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(accepting(m_port)) << readFile(m_dir.file("broker.log"));
}

void Broker::stop()
{
    m_process.reset();
}

HubClient::HubClient(int port)
{
    mosquitto_lib_init();
    m_mosq = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto* c = static_cast<HubClient*>(self);
        const std::lock_guard<std::mutex> lock(c->m_mutex);
        c->m_messages[m->topic].emplace_back(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen));
        c->m_changed.notify_all();
    });
    EXPECT_EQ(mosquitto_connect(m_mosq, "127.0.0.1", port, 30), MOSQ_ERR_SUCCESS);
    mosquitto_loop_start(m_mosq);
}

HubClient::~HubClient()
{
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    mosquitto_destroy(m_mosq);
    mosquitto_lib_cleanup();
}

void HubClient::subscribe(const std::string& pattern)
{
    mosquitto_subscribe(m_mosq, nullptr, pattern.c_str(), 1);
}

void HubClient::publish(const std::string& topic, const std::string& payload, bool retain)
{
    mosquitto_publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
}

bool HubClient::waitFor(const std::string& topic, const std::string& payload, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        const auto it = m_messages.find(topic);
        return it != m_messages.end() && it->second.back() == payload;
    });
}

std::map<std::string, std::string> HubClient::seen()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    std::map<std::string, std::string> last;
    for (const auto& [topic, payloads] : m_messages)
        last[topic] = payloads.back();
    return last;
}

std::vector<std::string> HubClient::history(const std::string& topic)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages[topic];
}

void HubClient::forget()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}

}  // namespace testing_support
