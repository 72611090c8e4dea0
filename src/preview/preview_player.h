#pragma once
// The audition transport. It plays a queued job converted live through the job's own
// engines: a serial render queue pulls 1024-frame chunks from the current Chain and
// schedules them on the output, never more than four ahead of the hardware; a generation
// counter silently invalidates everything a stopped playback still has in flight. Switching
// jobs or seeking while playing builds the incoming chain on the render queue and
// cross-fades it in at the exact position reached (preview_handoff.cpp); selected jobs are
// opened ahead on a low-priority queue (preview_prewarm.cpp).
//
// Every public operation is called on the thread that owns the player, and every published
// value changes only there. Other threads reach it through a mutex-guarded mailbox drained
// by a queued slot call, so that thread checkers see every hand-over.
#include "model/preview_control.h"
#include "model/recipe.h"
#include "preview/audio_output.h"
#include "preview/chain.h"
#include "preview/output_routing.h"
#include "preview/serial_queue.h"

#include <QObject>
#include <QUuid>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sonteva {

// Where an audition starts.
struct StartPosition {
    enum class Kind {
        time,    // an explicit position in seconds
        start,   // the pin when it is set (and within the source), else the beginning
        playhead // the current position; the exact sample reached when playing
    };
    Kind kind = Kind::start;
    double seconds = 0; // for time

    static StartPosition time(double seconds) { return {Kind::time, seconds}; }
    static StartPosition start() { return {Kind::start, 0}; }
    static StartPosition playhead() { return {Kind::playhead, 0}; }
};

class PreviewPlayer : public QObject, public PreviewControl, public OutputRouting {
    Q_OBJECT
public:
    static constexpr int kMaxBuffersAhead = 4;
    static constexpr double kFadeSeconds = 0.01;
    // The readout moves only by at least this much (or at the last buffer), so that buffer
    // completions do not flood the owning thread.
    static constexpr double kTimeStep = 0.04;
    static constexpr size_t kMaxPrepared = 3;
    // Keyboard scrolling through the queue prepares only the job the selection settles on.
    static constexpr int kPrewarmDelayMs = 250;

    explicit PreviewPlayer(std::shared_ptr<AudioOutput> output, QObject* parent = nullptr);
    ~PreviewPlayer() override;
    PreviewPlayer(const PreviewPlayer&) = delete;
    PreviewPlayer& operator=(const PreviewPlayer&) = delete;

    // --- transport ---
    // Auditions a job from a position; hands off gaplessly when playback of the same rate
    // and channel count is running.
    void play(const ConversionJob& job, StartPosition at);
    void playFromStart(const ConversionJob& job) override { play(job, StartPosition::start()); }
    // Holds the output; the render loop stays alive and resume() continues the same chain.
    void pause() override;
    // Continues after a pause, or restarts at the readout after a stop.
    void resume() override;
    // Gapless while playing; while paused or stopped it only moves the readout.
    void seek(double seconds);
    // Stops playback and returns the readout to the pin (or 0); with clearJobId also
    // forgets which job is current.
    void stopTransport(bool clearJobId);
    // Whether play or seek can hand off instead of cold-starting.
    bool canCrossfade(double rate, int channels) const;

    // --- output (the device manager) ---
    // Stops playback and routes the output to the device (none: the system default);
    // playback does not restart.
    void setOutputDevice(std::optional<uint32_t> deviceId) override;
    // Stops and reopens the output (the device changed rate); a running preview resumes at
    // the same position after the delay.
    void reopenOutput(double restartAfterSeconds) override;
    // The monitor volume, clamped to 0...1, audible at once.
    void setVolume(double volume) override;
    void setFailureListener(std::function<void(const QString&)> listener) override {
        failureListener_ = std::move(listener);
    }
    float volume() const { return volume_; }

    // --- prewarm ---
    // Opens the job's source and builds its engines ahead, 0.25 s after the last request.
    void prewarm(const ConversionJob& job);
    // The prepared source of the job when its algorithm and target rate still match; it is
    // removed from the cache (its engines carry state and serve once).
    std::optional<PreparedSource> takePrepared(const ConversionJob& job);
    // Ids in the prepared cache, oldest first.
    std::vector<QUuid> preparedJobIds() const;
    // Opens a job's source and builds its engines; nothing when the source cannot be opened.
    static std::optional<PreparedSource> buildSource(const ConversionJob& job);

    // --- published values ---
    bool isPlaying() const override { return isPlaying_; }
    double currentTime() const { return currentTime_; }
    double duration() const { return duration_; }
    std::optional<QUuid> currentJobId() const override { return currentJobId_; }
    bool isTimeLocked() const { return isTimeLocked_; }
    double lockedTime() const { return lockedTime_; }
    // The pin, set by the transport controls.
    void setTimeLocked(bool locked);
    void setLockedTime(double seconds);

Q_SIGNALS:
    void isPlayingChanged();
    void currentTimeChanged();
    void durationChanged();
    void currentJobIdChanged();
    void isTimeLockedChanged();
    void lockedTimeChanged();
    // A prewarm work item has run; `built` when it added the job's source to the cache.
    void prewarmFinished(QUuid jobId, bool built);
    // An audition could not start or go on; the transport has stopped. `why` is for the user.
    void failed(QString why);

private Q_SLOTS:
    void drainMailbox();

private:
    // A counting semaphore: one permit per buffer in flight.
    class Permits {
    public:
        explicit Permits(int count) : count_(count) {}
        void acquire();
        void release();

    private:
        std::mutex mutex_;
        std::condition_variable wake_;
        int count_;
    };

    // Work that other threads hand to the owning thread, run there in posting order.
    class Mailbox {
    public:
        using Task = std::function<void(PreviewPlayer&)>;
        explicit Mailbox(PreviewPlayer* owner) : owner_(owner) {}
        void post(Task task);
        std::vector<Task> take();
        void close();

    private:
        std::mutex mutex_;
        PreviewPlayer* owner_;
        std::vector<Task> tasks_;
    };

    // A source waiting to be cross-faded in.
    struct Handoff {
        std::unique_ptr<SeekableReader> file;
        std::vector<std::unique_ptr<ResamplerCore>> engines;
        double targetRate = 0;
        int64_t primeFrames = 0;
        std::optional<double> startTime; // none: continue at the position reached
    };

    // What one render loop works with, fixed by its cold start.
    struct RenderSession {
        uint64_t generation = 0;
        std::shared_ptr<Permits> permits;
        int channels = 0;
        int64_t fadeFrames = 0;
    };

    struct Format {
        double rate = 0;
        int channels = 0;
    };

    // A file about to be played: the source itself, or an already converted render.
    struct OpenedSource {
        std::unique_ptr<SeekableReader> file;
        std::vector<std::unique_ptr<ResamplerCore>> engines;
        std::string path;
        bool preconverted = false;
    };

    // preview_player.cpp: transport on the owning thread.
    // Preview failures are single lines on standard output.
    static void printLine(const std::string& line);
    // Tells the user why (standard output with `prefix`, failed(), the listener) and, unless
    // the playback can go on (`stop` false), stops the transport.
    void fail(const std::string& why,
              const std::string& prefix = "PreviewPlayer error: ", bool stop = true);
    // The source opened for seeking, or null (after fail()) when it cannot be.
    std::unique_ptr<SeekableReader> openReader(const std::string& path);
    // Starts the output unless it runs; false (after fail()) when it cannot.
    bool ensureEngine();
    std::optional<OpenedSource> openStreaming(const ConversionJob& job);
    std::optional<double> resolveStart(StartPosition at, double length) const;
    void coldStart(std::shared_ptr<Chain> chain, double rate, int channels, double startSeconds);
    void postHandoff(Handoff handoff);
    void setIsPlaying(bool playing);
    void setCurrentTime(double seconds);
    void setDuration(double seconds);
    void setCurrentJobId(std::optional<QUuid> id);

    // preview_handoff.cpp: the render queue, and the owning-thread ends of its messages.
    bool isCurrent(const RenderSession& session) const;
    bool acquirePermit(const RenderSession& session) const;
    void runRenderLoop(RenderSession session, std::shared_ptr<Chain> chain);
    void renderLoop(const RenderSession& session);
    void takeHandoff();
    int nextChunk(const RenderSession& session, double& endTime);
    void schedule(const RenderSession& session, int frames, double endTime, bool isLast,
                  bool startOutput);
    void bufferPlayed(uint64_t generation, double endTime, bool isLast);
    void firstBufferQueued(uint64_t generation);
    void outputFailed(uint64_t generation, const std::string& why);
    void outputLost(const std::string& why);
    void renderEnded(uint64_t generation);

    // preview_prewarm.cpp: the prepared cache and the whole-file route.
    void runPrewarm(const ConversionJob& job);
    std::optional<OpenedSource> openSsrcRoute(const ConversionJob& job, StartPosition at);
    void renderSsrcPreview(const ConversionJob& job, int64_t fsIn, const std::string& key,
                           StartPosition at);

    std::shared_ptr<AudioOutput> output_;
    std::shared_ptr<Mailbox> mailbox_;
    float volume_ = 1.0f;
    std::optional<uint32_t> outputDeviceId_;
    std::optional<uint32_t> appliedDeviceId_;
    std::function<void(const QString&)> failureListener_;

    // Published (owning thread).
    bool isPlaying_ = false;
    double currentTime_ = 0;
    double duration_ = 0;
    std::optional<QUuid> currentJobId_;
    bool isTimeLocked_ = false;
    double lockedTime_ = 0;

    // Owning thread.
    std::optional<Format> connectedFormat_;
    std::shared_ptr<Permits> permits_; // the current cold start's
    std::optional<ConversionJob> currentJob_;
    std::string currentPath_; // the file actually played: the source or a render
    bool currentIsPreconverted_ = false;
    SerialQueue::Ticket prewarmWork_;

    // Shared with the render queue.
    std::atomic<bool> stopRequested_{false};
    std::atomic<uint64_t> scheduleGeneration_{0};
    // The generation whose output is still to be started (-1: none): it starts once the
    // queue is full, or with the source's last buffer. Kept per generation so that an old
    // loop winding down cannot consume a new start's flag.
    std::atomic<int64_t> awaitingFirstBuffer_{-1};
    // Set by pause: a first buffer arriving afterwards does not start the output.
    std::atomic<bool> pauseRequested_{false};
    // Makes "still current? then queue the buffer" atomic against a stop, so no buffer of
    // a stopped playback reaches the output after stopTransport returns.
    std::mutex scheduleMutex_;
    mutable std::mutex handoffMutex_; // guards the next two
    std::optional<Handoff> pendingHandoff_;
    bool renderActive_ = false;

    // Render queue only.
    std::shared_ptr<Chain> primaryChain_;
    std::shared_ptr<Chain> fadingIn_;
    int64_t fadePos_ = 0;
    ChunkBlocks chunk_;    // the primary's chunk, then the mix
    ChunkBlocks incoming_; // the incoming chain's chunk during a fade

    // Prepared cache, shared with the prewarm queue.
    mutable std::mutex preparedMutex_;
    std::map<QUuid, PreparedSource> prepared_;
    std::vector<QUuid> preparedOrder_; // oldest first

    // Last, and reset first on destruction: their tasks use everything above.
    std::unique_ptr<SerialQueue> renderQueue_;
    std::unique_ptr<SerialQueue> prewarmQueue_;
};

} // namespace sonteva
