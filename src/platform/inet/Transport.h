// The worker of a session: one thread and one transfer engine that runs the
// transfers of all the session's requests, keeps their TCP connections for
// reuse, enforces the time-outs and reports to the requests (HttpRequest.h).
// The engine is libcurl (CurlTransport.cpp, the one file that includes it).
#pragma once

#include <memory>

namespace platform::inet {

class HttpRequest;
class InternetSession;

class Transport {
public:
    virtual ~Transport() = default;

    // Hands a request whose exchange is prepared to the worker; its transfer
    // starts there. The worker keeps the request alive until it is done.
    virtual void Start(std::shared_ptr<HttpRequest> request) = 0;
    // Stops the request's transfer, if it runs (the request was closed).
    virtual void Cancel(HttpRequest *request) = 0;
    // Lets a transfer that was paused (its reader was behind) go on.
    virtual void Resume(HttpRequest *request) = 0;
    // Ends the worker and every transfer; waits for the thread unless
    // called on it.
    virtual void Stop() = 0;

    // Null when the engine or the thread could not be started.
    static std::unique_ptr<Transport> Create(InternetSession &session);
};

} // namespace platform::inet
