// A web server for test pages on a loopback port of its own (another origin
// than the bridge's): it serves the files put into it, from memory, on a
// thread of its own; over HTTPS when given a certificate.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace testing_support {

class PageServer {
public:
    PageServer();
    // HTTPS with the certificate chain and key in these PEM files.
    PageServer(const std::string &certificate, const std::string &key);
    ~PageServer();
    PageServer(const PageServer &) = delete;
    PageServer &operator=(const PageServer &) = delete;

    bool Ready() const { return m_port != 0; }
    unsigned short Port() const { return m_port; }
    // Serves `body` at `path` ("/page.html") from now on.
    void Put(const std::string &path, const std::string &body,
             const std::string &contentType = "text/html; charset=utf-8");
    // The page's address on 127.0.0.1 ("http://127.0.0.1:P/page.html"), or
    // on another host name of loopback, which is another origin ("https:"
    // for an HTTPS server).
    std::string Url(const std::string &path, const std::string &host = "127.0.0.1") const;

    struct File {
        std::string body;
        std::string contentType;
    };
    bool Find(const std::string &path, File &file);

private:
    void Listen();

    struct Context;
    std::unique_ptr<Context> m_context;
    std::mutex m_lock;
    std::map<std::string, File> m_files;
    unsigned short m_port = 0;
    bool m_tls = false;
    std::thread m_thread;
};

} // namespace testing_support
