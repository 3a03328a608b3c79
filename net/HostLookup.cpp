#include "net/SockLayer.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <mutex>
#include <thread>

#include "net/WinsockErrors.h"

// Host lookups: the system resolver blocks, so it runs on a worker thread while the caller
// waits in the event loop.

namespace {

int WinsockErrorFromGai(int rc) {
    switch (rc) {
        case 0: return 0;
        case EAI_AGAIN: return net::wsa::kTryAgain;
        case EAI_FAIL: return net::wsa::kNoRecovery;
#ifdef EAI_NODATA
        case EAI_NODATA: return net::wsa::kNoData;
#endif
        default: return net::wsa::kHostNotFound;
    }
}

int SystemResolve(const std::string& name, std::uint32_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc == 0 && result) address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    if (result) ::freeaddrinfo(result);
    return WinsockErrorFromGai(rc);
}

std::mutex g_resolverMutex;
net::HostResolver g_resolver;

net::HostResolver CurrentResolver() {
    std::lock_guard lock(g_resolverMutex);
    return g_resolver ? g_resolver : net::HostResolver(SystemResolve);
}

}  // namespace

void net::SetHostResolver(HostResolver resolver) {
    std::lock_guard lock(g_resolverMutex);
    g_resolver = std::move(resolver);
}

// A running host lookup. The worker thread only ever touches its own copies; `owner` is
// read and written on the GUI thread alone, so a destroyed object simply drops the answer.
struct TBlockingSocket::Lookup {
    TBlockingSocket* owner = nullptr;
};

void TBlockingSocket::ResolveHost() {
    ReportStatus(8, "Resolve Host");
    const std::string name = Proxy.empty() ? Host : Proxy;
    in_addr_t direct = ::inet_addr(name.c_str());
    if (direct != INADDR_NONE) {
        remoteAddress_ = direct;
        return;
    }
    remoteAddress_ = 0;
    TimerScope timing(*this);
    eventDone_ = false;
    ForgetLookup();
    lookup_ = std::make_shared<Lookup>();
    lookup_->owner = this;
    // The system resolver blocks, so it runs on a worker whose answer is queued back to the
    // GUI thread like the completion message of an asynchronous lookup.
    std::thread([lookup = lookup_, name, resolve = CurrentResolver()] {
        std::uint32_t address = 0;
        int error = net::wsa::kHostNotFound;
        try {
            error = resolve(name, address);
        } catch (...) {
            // A lookup that fails in any way found nothing.
        }
        if (error) address = 0;
        if (auto* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app,
                [lookup, address, error] {
                    if (lookup->owner) lookup->owner->LookupDone(address, error);
                },
                Qt::QueuedConnection);
    }).detach();
    auto alive = alive_;
    while (!(eventDone_ || timedOut_ || canceled_))
        if (!WaitForEvent(alive)) throw EAbortError("Host Lookup Canceled");
    ForgetLookup();
    if (timedOut_) throw ESockError("Host Lookup Timed Out");
    if (canceled_) throw EAbortError("Host Lookup Canceled");
    if (!succeeded_) throw ESockError("Host Lookup Failed");
    remoteAddress_ = remoteLookup_;
    Fire(OnHostResolved, this);
}

void TBlockingSocket::LookupDone(std::uint32_t address, int error) {
    lookup_.reset();
    succeeded_ = error == 0;
    if (!succeeded_) lastError_ = error;
    remoteLookup_ = address;
    eventDone_ = true;
}

void TBlockingSocket::ForgetLookup() {
    if (!lookup_) return;
    lookup_->owner = nullptr;
    lookup_.reset();
}
