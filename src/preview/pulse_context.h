#pragma once
// One connection to the sound server (PulseAudio, or PipeWire's pulse server) on a
// threaded main loop of its own. Every libpulse object attached to it is touched only with
// the loop's lock held: the loop thread holds it while it runs callbacks, other threads
// take it through Lock. Callbacks run on the loop thread and must not take the lock again.
#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <string>

namespace sonteva {

class PulseContext {
public:
    explicit PulseContext(std::string clientName);
    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    class Lock {
    public:
        explicit Lock(PulseContext& c) : loop_(c.loop_) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    // Lock held. Connects (again, after a failure) and waits until the connection is ready;
    // false when the server cannot be reached in time. Never spawns a server.
    bool ensureConnected(std::chrono::milliseconds timeout = std::chrono::seconds(3));
    // Lock held. Whether the context is connected and ready.
    bool isReady() const;
    // Lock held. Waits until done() holds or the timeout passes; done() is evaluated with
    // the lock held, after every signal().
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Lock held. Waits for an operation to finish and releases it; false on timeout or when
    // the operation could not be issued (null).
    bool finish(pa_operation* op, std::chrono::milliseconds timeout = std::chrono::seconds(3));
    // Wakes waitUntil(); safe from the loop thread (callbacks).
    void signal() { pa_threaded_mainloop_signal(loop_, 0); }

    pa_context* context() const { return context_; }
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }
    // Called on the loop thread whenever the connection's state changes (set before
    // ensureConnected; kept across reconnects).
    void setStateListener(std::function<void(pa_context_state_t)> listener) {
        stateListener_ = std::move(listener);
    }

private:
    static void onState(pa_context* c, void* self);
    void dropContext();

    std::string clientName_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::function<void(pa_context_state_t)> stateListener_;
};

// Our own playback stream moves the sink's rate by itself when it (re)connects: the
// sound server follows the stream. The output notes each connect and disconnect here so
// that the device side can tell those rate changes from changes made by anyone else.
void noteOwnStreamActivity();
// Whether our own stream connected or disconnected within the last `window`.
bool ownStreamActiveWithin(std::chrono::milliseconds window);

} // namespace sonteva
