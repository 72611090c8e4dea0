#include "preview/pulse_context.h"

#include <atomic>

namespace sonteva {

namespace {

std::atomic<int64_t> ownStreamActivityMs{INT64_MIN / 2};

int64_t steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A wall-clock time event that only wakes the waiting thread: waits on the threaded loop
// have no timeout of their own.
void wakeWaiter(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

} // namespace

void noteOwnStreamActivity() {
    ownStreamActivityMs.store(steadyMs(), std::memory_order_relaxed);
}

bool ownStreamActiveWithin(std::chrono::milliseconds window) {
    return steadyMs() - ownStreamActivityMs.load(std::memory_order_relaxed) <= window.count();
}

PulseContext::PulseContext(std::string clientName) : clientName_(std::move(clientName)) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return;
    // Taking the lock once before the loop thread exists makes this thread set up libpulse's
    // lazily created per-thread bookkeeping, which the loop thread then inherits through its
    // creation instead of through atomics the thread checker cannot see.
    pa_threaded_mainloop_lock(loop_);
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_start(loop_);
}

PulseContext::~PulseContext() {
    if (!loop_) return;
    {
        Lock lock(*this);
        dropContext();
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void PulseContext::dropContext() {
    if (!context_) return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void PulseContext::onState(pa_context* c, void* self) {
    auto* me = static_cast<PulseContext*>(self);
    if (me->stateListener_) me->stateListener_(pa_context_get_state(c));
    me->signal();
}

bool PulseContext::isReady() const {
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool PulseContext::ensureConnected(std::chrono::milliseconds timeout) {
    if (!loop_) return false;
    if (context_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) dropContext();
    if (!context_) {
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Sonteva");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "sonteva");
        context_ = pa_context_new_with_proplist(api(), clientName_.c_str(), props);
        pa_proplist_free(props);
        if (!context_) return false;
        pa_context_set_state_callback(context_, &PulseContext::onState, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            dropContext();
            return false;
        }
    }
    waitUntil(
        [this] {
            const pa_context_state_t s = pa_context_get_state(context_);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        },
        timeout);
    if (isReady()) return true;
    dropContext();
    return false;
}

bool PulseContext::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    if (done()) return true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    struct timeval tv;
    pa_gettimeofday(&tv);
    pa_timeval_add(&tv, static_cast<pa_usec_t>(timeout.count()) * PA_USEC_PER_MSEC);
    pa_time_event* alarm = api()->time_new(api(), &tv, &wakeWaiter, loop_);
    bool ok = false;
    while (!(ok = done()) && std::chrono::steady_clock::now() < deadline)
        pa_threaded_mainloop_wait(loop_);
    if (alarm) api()->time_free(alarm);
    return ok;
}

namespace {
void signalLoop(pa_operation*, void* self) {
    static_cast<PulseContext*>(self)->signal();
}
} // namespace

bool PulseContext::finish(pa_operation* op, std::chrono::milliseconds timeout) {
    if (!op) return false;
    pa_operation_set_state_callback(op, &signalLoop, this);
    const bool done =
        waitUntil([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeout);
    pa_operation_set_state_callback(op, nullptr, nullptr);
    if (!done) pa_operation_cancel(op);
    pa_operation_unref(op);
    return done;
}

} // namespace sonteva
