// A small HTTP/1.1 server on 127.0.0.1 for the list tests: each path has a scripted reply (or a
// stall, a cut-short body), and every request is recorded with its headers.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fv::test {

struct HttpReply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::size_t sendOnly = std::string::npos;  // the whole body is announced, this much is sent
    bool stall = false;                        // nothing is answered until the server stops
    // When the request carries this If-None-Match (or If-Modified-Since) value, 304.
    std::string notModifiedIfEtag;
    std::string notModifiedIfSince;
};

struct HttpRequest {
    std::string path;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string Header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

class TestHttpServer {
public:
    TestHttpServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0 || ::pipe(stop_) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }
    ~TestHttpServer() {
        if (acceptor_.joinable()) {
            (void)::write(stop_[1], "x", 1);
            acceptor_.join();
            for (std::thread& t : connections_) t.join();
        }
        for (int fd : {listener_, stop_[0], stop_[1]}) {
            if (fd >= 0) ::close(fd);
        }
    }
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    bool Running() const { return port_ != 0; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    void Serve(const std::string& path, HttpReply reply) {
        std::lock_guard lock(mutex_);
        replies_[path] = std::move(reply);
    }
    std::vector<HttpRequest> Requests(const std::string& path) const {
        std::lock_guard lock(mutex_);
        std::vector<HttpRequest> found;
        std::copy_if(requests_.begin(), requests_.end(), std::back_inserter(found),
                     [&](const HttpRequest& r) { return r.path == path; });
        return found;
    }

private:
    void AcceptLoop() {
        for (;;) {
            pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents != 0) return;
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) connections_.emplace_back([this, client] { Handle(client); });
        }
    }

    bool WaitReadable(int fd) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        return ::poll(fds, 2, -1) > 0 && fds[1].revents == 0;
    }

    static void SendAll(int fd, const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t put = ::send(fd, data, size, MSG_NOSIGNAL);
            if (put <= 0) return;
            data += put;
            size -= static_cast<std::size_t>(put);
        }
    }

    void Handle(int client) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            if (!WaitReadable(client)) break;
            const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            head.append(buffer, static_cast<std::size_t>(got));
        }
        HttpRequest request;
        const std::size_t lineEnd = head.find("\r\n");
        const std::string line = head.substr(0, lineEnd);
        const std::size_t space = line.find(' ');
        request.path = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
        for (std::size_t at = lineEnd + 2; lineEnd != std::string::npos && at < head.size();) {
            const std::size_t end = head.find("\r\n", at);
            if (end == std::string::npos || end == at) break;
            const std::string header = head.substr(at, end - at);
            const std::size_t colon = header.find(':');
            std::string name = header.substr(0, colon);
            std::transform(name.begin(), name.end(), name.begin(), ::tolower);
            if (colon != std::string::npos) request.headers[name] = header.substr(header.find_first_not_of(' ', colon + 1));
            at = end + 2;
        }
        HttpReply reply;
        bool known = false;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            if (const auto it = replies_.find(request.path); it != replies_.end()) {
                reply = it->second;
                known = true;
            }
        }
        if (!known) {
            reply.status = 404;
            reply.body = "not found";
        }
        if (reply.stall) {
            WaitReadable(stop_[0]);
        } else {
            const bool notModified =
                (!reply.notModifiedIfEtag.empty() && request.Header("if-none-match") == reply.notModifiedIfEtag) ||
                (!reply.notModifiedIfSince.empty() && request.Header("if-modified-since") == reply.notModifiedIfSince);
            std::string response = "HTTP/1.1 " + std::to_string(notModified ? 304 : reply.status) + " Scripted\r\n";
            for (const auto& [name, value] : reply.headers) response += name + ": " + value + "\r\n";
            const std::string body = notModified ? std::string() : reply.body;
            response += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
            response += body.substr(0, reply.sendOnly);
            SendAll(client, response.data(), response.size());
        }
        ::shutdown(client, SHUT_RDWR);
        ::close(client);
    }

    int listener_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> connections_;  // only the acceptor touches it until it ends
    mutable std::mutex mutex_;
    std::map<std::string, HttpReply> replies_;
    std::vector<HttpRequest> requests_;
};

}  // namespace fv::test
