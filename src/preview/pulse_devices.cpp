#include "preview/pulse_devices.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sonteva {

namespace {

// A rate change of the watched sink this soon after our own stream connected, moved or
// disconnected is taken for the server following our stream.
constexpr std::chrono::milliseconds kOwnChangeWindow{1500};
constexpr int kReconnectDelayMs = 3000;
constexpr int64_t kAllowedRatesMaxAgeMs = 1000;
const QString kMetadataTool = QStringLiteral("pw-metadata");

// Runs a small tool to completion without a shell; its standard output, or none when it is
// missing, fails or hangs. (posix_spawn rather than QProcess: the child must not run any of
// this process's code, which keeps the thread checker's view of the parent intact.)
std::optional<QString> runTool(const QString& program, const QStringList& args) {
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty()) return std::nullopt;
    std::vector<std::string> words{path.toStdString()};
    for (const QString& a : args)
        words.push_back(a.toStdString());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (failed) {
        ::close(out[0]);
        return std::nullopt;
    }
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    bool finished = false;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char chunk[4096];
        const ssize_t n = ::read(out[0], chunk, sizeof chunk);
        if (n <= 0) {
            finished = n == 0;
            if (n == 0 || errno != EINTR) break;
            continue;
        }
        text.append(chunk, size_t(n));
    }
    ::close(out[0]);
    if (!finished) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return QString::fromStdString(text);
}

std::vector<uint32_t> numbersIn(const QString& text) {
    std::vector<uint32_t> out;
    static const QRegularExpression number(QStringLiteral("\\d+"));
    for (auto it = number.globalMatch(text); it.hasNext();) {
        bool ok = false;
        const uint32_t v = it.next().captured(0).toUInt(&ok);
        if (ok && v > 0) out.push_back(v);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::optional<QString> metadataValue(const QString& dump, const QString& key) {
    const QRegularExpression line(
        QStringLiteral("key:'%1' value:'([^']*)'").arg(QRegularExpression::escape(key)));
    const auto match = line.match(dump);
    if (!match.hasMatch()) return std::nullopt;
    return match.captured(1);
}

// The rates a sink's formats name (PCM formats with a "format.rate" property), if any.
std::vector<uint32_t> formatRates(const pa_sink_info* info) {
    std::vector<uint32_t> rates;
    for (uint8_t i = 0; i < info->n_formats; ++i) {
        pa_format_info* f = info->formats[i];
        if (!f || !pa_format_info_is_pcm(f)) continue;
        int rate = 0;
        int* list = nullptr;
        int count = 0;
        if (pa_format_info_get_prop_int(f, PA_PROP_FORMAT_RATE, &rate) == 0 && rate > 0) {
            rates.push_back(static_cast<uint32_t>(rate));
        } else if (pa_format_info_get_prop_int_array(f, PA_PROP_FORMAT_RATE, &list, &count) == 0) {
            for (int k = 0; k < count; ++k)
                if (list[k] > 0) rates.push_back(static_cast<uint32_t>(list[k]));
            pa_xfree(list);
        }
    }
    return rates;
}

} // namespace

PulseDevices::PulseDevices() : pulse_(std::make_unique<PulseContext>("Sonteva devices")) {
    pulse_->setStateListener([this](pa_context_state_t s) { onContextState(s); });
    if (!connectAndSync()) scheduleReconnect();
}

PulseDevices::~PulseDevices() {
    // Stop the loop thread before the receiver goes: nothing is posted after this.
    pulse_.reset();
}

void PulseDevices::post(std::function<void()> task) {
    QMetaObject::invokeMethod(&receiver_, std::move(task), Qt::QueuedConnection);
}

bool PulseDevices::connectAndSync() {
    PulseContext::Lock lock(*pulse_);
    if (!pulse_->ensureConnected(std::chrono::seconds(2))) return false;
    pa_context* c = pulse_->context();
    pa_context_set_subscribe_callback(c, &PulseDevices::onSubscription, this);
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                          PA_SUBSCRIPTION_MASK_SERVER);
    pulse_->finish(pa_context_subscribe(c, mask, nullptr, nullptr));
    sinks_.clear();
    pulse_->finish(pa_context_get_sink_info_list(c, &PulseDevices::onSinkInfo, this));
    pulse_->finish(pa_context_get_server_info(c, &PulseDevices::onServerInfo, this));
    // After a reconnect the listeners learn about the server's present state.
    if (synced_)
        post([this] {
            if (listListener_) listListener_();
            if (defaultListener_) defaultListener_();
        });
    synced_ = true;
    return true;
}

void PulseDevices::scheduleReconnect() {
    if (reconnectPending_) return;
    reconnectPending_ = true;
    QTimer::singleShot(kReconnectDelayMs, &receiver_, [this] {
        reconnectPending_ = false;
        if (!connectAndSync()) scheduleReconnect();
    });
}

void PulseDevices::onContextState(pa_context_state_t state) {
    if (PA_CONTEXT_IS_GOOD(state)) return;
    const bool hadSinks = !sinks_.empty();
    sinks_.clear();
    defaultSink_.clear();
    post([this, hadSinks] {
        if (hadSinks && listListener_) listListener_();
        if (hadSinks && defaultListener_) defaultListener_();
        scheduleReconnect();
    });
}

void PulseDevices::onSubscription(pa_context* c, pa_subscription_event_type_t type, uint32_t index,
                                  void* self) {
    auto* me = static_cast<PulseDevices*>(self);
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    pa_operation* op = nullptr;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        op = pa_context_get_server_info(c, &PulseDevices::onServerInfo, me);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK && kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        if (me->sinks_.erase(index) > 0)
            me->post([me] {
                if (me->listListener_) me->listListener_();
            });
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        op = pa_context_get_sink_info_by_index(c, index, &PulseDevices::onSinkInfo, me);
    }
    if (op) pa_operation_unref(op);
}

void PulseDevices::onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto* me = static_cast<PulseDevices*>(self);
    if (eol != 0 || !info) return;
    const bool known = me->sinks_.count(info->index) > 0;
    Sink& sink = me->sinks_[info->index];
    const std::string name = info->name ? info->name : "";
    const std::string description = info->description ? info->description : "";
    const bool listChanged = !known || sink.name != name || sink.description != description;
    sink.name = name;
    sink.description = description;
    sink.rate = info->sample_spec.rate;
    sink.formatRates = formatRates(info);
    if (listChanged && me->synced_)
        me->post([me] {
            if (me->listListener_) me->listListener_();
        });
    if (me->watched_ == info->index && sink.rate != me->watchedRate_) {
        me->watchedRate_ = sink.rate;
        const bool own = ownStreamActiveWithin(kOwnChangeWindow);
        me->post([me, own] {
            me->deliveringOwnChange_ = own;
            if (me->rateListener_) me->rateListener_();
            me->deliveringOwnChange_ = false;
        });
    }
}

void PulseDevices::onServerInfo(pa_context*, const pa_server_info* info, void* self) {
    auto* me = static_cast<PulseDevices*>(self);
    if (!info) return;
    me->serverName_ = info->server_name ? info->server_name : "";
    me->serverRate_ = info->sample_spec.rate;
    const std::string def = info->default_sink_name ? info->default_sink_name : "";
    if (def == me->defaultSink_) return;
    me->defaultSink_ = def;
    if (!me->synced_) return;
    me->post([me] {
        if (me->defaultListener_) me->defaultListener_();
    });
}

std::vector<AudioOutputDevice> PulseDevices::outputDevices() {
    PulseContext::Lock lock(*pulse_);
    std::vector<AudioOutputDevice> out;
    for (const auto& [index, sink] : sinks_) {
        if (sink.name.empty()) continue;
        out.push_back({index, sink.name, sink.description.empty() ? sink.name : sink.description});
    }
    return out;
}

std::optional<uint32_t> PulseDevices::defaultOutputDevice() {
    PulseContext::Lock lock(*pulse_);
    for (const auto& [index, sink] : sinks_)
        if (!defaultSink_.empty() && sink.name == defaultSink_) return index;
    return std::nullopt;
}

std::optional<double> PulseDevices::nominalRate(uint32_t device) {
    PulseContext::Lock lock(*pulse_);
    const auto it = sinks_.find(device);
    if (it == sinks_.end() || it->second.rate == 0) return std::nullopt;
    return static_cast<double>(it->second.rate);
}

bool PulseDevices::isPipeWire() {
    PulseContext::Lock lock(*pulse_);
    return serverName_.find("PipeWire") != std::string::npos;
}

std::vector<uint32_t> PulseDevices::parseAllowedRates(const QString& dump) {
    if (const auto allowed = metadataValue(dump, QStringLiteral("clock.allowed-rates"))) {
        auto rates = numbersIn(*allowed);
        if (!rates.empty()) return rates;
    }
    // Without an explicit list the graph runs at its default rate only.
    if (const auto rate = metadataValue(dump, QStringLiteral("clock.rate")))
        return numbersIn(*rate);
    return {};
}

std::vector<uint32_t> PulseDevices::allowedRates(bool fresh) {
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (fresh || allowedReadAtMs_ < 0 || now - allowedReadAtMs_ > kAllowedRatesMaxAgeMs) {
        const auto dump = runTool(
            kMetadataTool, {QStringLiteral("-n"), QStringLiteral("settings"), QStringLiteral("0")});
        allowedCache_ = dump ? parseAllowedRates(*dump) : std::vector<uint32_t>{};
        allowedReadAtMs_ = now;
    }
    return allowedCache_;
}

uint32_t PulseDevices::alternateRate() {
    if (!alternate_) {
        alternate_ = 0;
        if (const auto conf =
                runTool(QStringLiteral("pulseaudio"), {QStringLiteral("--dump-conf")})) {
            const QRegularExpression line(QStringLiteral("alternate-sample-rate\\s*=\\s*(\\d+)"));
            const auto match = line.match(*conf);
            if (match.hasMatch()) alternate_ = match.captured(1).toUInt();
        }
    }
    return *alternate_;
}

std::vector<RateRange> PulseDevices::availableRates(uint32_t device) {
    uint32_t current = 0;
    uint32_t serverRate = 0;
    std::vector<uint32_t> takes;
    {
        PulseContext::Lock lock(*pulse_);
        const auto it = sinks_.find(device);
        if (it == sinks_.end()) return {};
        current = it->second.rate;
        takes = it->second.formatRates;
        serverRate = serverRate_;
    }
    std::vector<uint32_t> rates;
    if (isPipeWire()) {
        // The graph runs at any rate it is allowed, and allowing one is how a rate is set:
        // the device can run at the rates its formats take (any of the usual ones when they
        // name none), besides those already allowed.
        rates = allowedRates(false);
        if (rateIsSettable(device)) {
            const std::vector<uint32_t> usual{44100,  48000,  88200,  96000,
                                              176400, 192000, 352800, 384000};
            rates.insert(rates.end(), usual.begin(), usual.end());
        }
        if (!takes.empty())
            std::erase_if(rates, [&](uint32_t r) {
                return std::find(takes.begin(), takes.end(), r) == takes.end();
            });
    } else {
        rates = {serverRate, alternateRate()};
    }
    if (rates.empty() || std::all_of(rates.begin(), rates.end(), [](uint32_t r) { return r == 0; }))
        rates = {current};
    std::sort(rates.begin(), rates.end());
    rates.erase(std::unique(rates.begin(), rates.end()), rates.end());
    std::vector<RateRange> out;
    for (uint32_t r : rates)
        if (r > 0) out.push_back({static_cast<double>(r), static_cast<double>(r)});
    return out;
}

bool PulseDevices::rateIsSettable(uint32_t device) {
    {
        PulseContext::Lock lock(*pulse_);
        if (sinks_.count(device) == 0) return false;
    }
    return isPipeWire() && !QStandardPaths::findExecutable(kMetadataTool).isEmpty();
}

bool PulseDevices::setNominalRate(uint32_t device, double rate) {
    if (!rateIsSettable(device) || rate <= 0) return false;
    const auto dump = runTool(
        kMetadataTool, {QStringLiteral("-n"), QStringLiteral("settings"), QStringLiteral("0")});
    if (!dump) return false;
    const auto wanted = static_cast<uint32_t>(std::llround(rate));
    std::vector<uint32_t> allowed = parseAllowedRates(*dump);
    allowedReadAtMs_ = -1;
    // Already allowed: the graph follows the stream once it reopens at that rate.
    if (std::find(allowed.begin(), allowed.end(), wanted) != allowed.end()) return true;
    if (!haveSavedAllowed_) {
        savedAllowed_ = metadataValue(*dump, QStringLiteral("clock.allowed-rates"));
        haveSavedAllowed_ = true;
    }
    allowed.push_back(wanted);
    std::sort(allowed.begin(), allowed.end());
    QStringList items;
    for (uint32_t r : allowed)
        items << QString::number(r);
    const QString value = QStringLiteral("[ %1 ]").arg(items.join(QStringLiteral(", ")));
    return runTool(kMetadataTool,
                   {QStringLiteral("-n"), QStringLiteral("settings"), QStringLiteral("0"),
                    QStringLiteral("clock.allowed-rates"), value})
        .has_value();
}

void PulseDevices::restoreRates() {
    if (!haveSavedAllowed_) return;
    haveSavedAllowed_ = false;
    allowedReadAtMs_ = -1;
    QStringList args{QStringLiteral("-n"), QStringLiteral("settings")};
    if (savedAllowed_)
        args << QStringLiteral("0") << QStringLiteral("clock.allowed-rates") << *savedAllowed_;
    else
        args << QStringLiteral("-d") << QStringLiteral("0")
             << QStringLiteral("clock.allowed-rates");
    runTool(kMetadataTool, args);
}

void PulseDevices::onDeviceListChanged(std::function<void()> listener) {
    listListener_ = std::move(listener);
}

void PulseDevices::onDefaultDeviceChanged(std::function<void()> listener) {
    defaultListener_ = std::move(listener);
}

void PulseDevices::watchNominalRate(std::optional<uint32_t> device,
                                    std::function<void()> listener) {
    rateListener_ = std::move(listener);
    PulseContext::Lock lock(*pulse_);
    watched_ = device;
    const auto it = device ? sinks_.find(*device) : sinks_.end();
    watchedRate_ = it == sinks_.end() ? 0 : it->second.rate;
}

} // namespace sonteva
