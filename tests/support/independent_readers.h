#pragma once
// Readers of written files that share no code with the system under test (SoX, metaflac,
// python-soundfile and a few lines of Python over the raw chunks), run as child processes
// through posix_spawn: the audio tests are plain C++ and run under ThreadSanitizer, where
// QProcess is no option. scripts/install-deps installs the tools; a test whose tool is
// missing skips and says which.
#include "support/spawn.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <string>
#include <vector>

namespace sonteva::test {

inline const std::string kSox = "/usr/bin/sox";
inline const std::string kMetaflac = "/usr/bin/metaflac";
inline const std::string kPython = "/usr/bin/python3";

struct ToolRun {
    int status = -1; // the exit code; -1 when the tool could not run or was killed
    std::string out, err;
};

// Runs argv[0] (an absolute path) with the given arguments and collects both outputs.
inline ToolRun runTool(const std::vector<std::string>& argv) {
    ToolRun run;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return run;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]), ::close(out[1]);
        return run;
    }
    Launch how;
    how.outFd = out[1], how.errFd = err[1];
    const pid_t pid = launch(argv, how);
    ::close(out[1]), ::close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&run.out, &run.err};
    for (int open = 2; pid > 0 && open > 0;) {
        if (::poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, size_t(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    ::close(out[0]), ::close(err[0]);
    const int status = waitChild(pid, -1);
    run.status = status < 128 ? status : -1;
    return run;
}

inline bool hasTool(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

// Python with the soundfile module (Debian's python3-soundfile).
inline bool hasPythonSoundfile() {
    static const bool present =
        hasTool(kPython) && runTool({kPython, "-c", "import soundfile"}).status == 0;
    return present;
}

#define SKIP_WITHOUT(present, name)                                                                \
    if (!(present)) GTEST_SKIP() << name << " is not installed (scripts/install-deps installs it)"

// The frames SoX finds in a file ("sox --i -s"); -1 when it cannot open it.
inline long long soxFrames(const std::string& path, std::string* error = nullptr) {
    const ToolRun r = runTool({kSox, "--i", "-s", path});
    if (error) *error = r.err;
    return r.status == 0 ? std::stoll(r.out) : -1;
}

// The frames libsndfile finds through python-soundfile; -1 when it cannot open the file.
inline long long soundfileFrames(const std::string& path) {
    const ToolRun r = runTool(
        {kPython, "-c", "import soundfile,sys; print(soundfile.info(sys.argv[1]).frames)", path});
    return r.status == 0 ? std::stoll(r.out) : -1;
}

// Facts about a RIFF or AIFF file as a few lines of Python read them from the raw bytes:
// ("chunk", "ID size") in file order, the bext fields ("bext.reference", "bext.version",
// "bext.umid", "bext.loudness") and the text of iXML's innermost elements ("ixml.NAME"),
// parsed as XML. An "error" fact when the file cannot be parsed.
inline std::vector<std::pair<std::string, std::string>> chunkFacts(const std::string& path) {
    static const char* kScript = R"(
import struct, sys, xml.etree.ElementTree as ET
data = open(sys.argv[1], 'rb').read()
big = data[:4] == b'FORM'
at = 12
while at + 8 <= len(data):
    cid = data[at:at + 4].decode('latin1')
    size = struct.unpack('>I' if big else '<I', data[at + 4:at + 8])[0]
    body = data[at + 8:at + 8 + size]
    print('chunk\t%s %d' % (cid, size))
    if cid == 'bext':
        ref, version = struct.unpack('<QH', body[338:348])
        print('bext.reference\t%d' % ref)
        print('bext.version\t%d' % version)
        print('bext.umid\t' + body[348:412].hex().upper())
        print('bext.loudness\t' + ' '.join('%d' % v for v in struct.unpack('<5h', body[412:422])))
    if cid == 'iXML':
        for e in ET.fromstring(body.rstrip(b'\0')).iter():
            if len(e) == 0:
                print('ixml.%s\t%s' % (e.tag, (e.text or '').strip()))
    at += 8 + size + (size & 1)
)";
    const ToolRun r = runTool({kPython, "-c", kScript, path});
    std::vector<std::pair<std::string, std::string>> facts;
    if (r.status != 0) facts.emplace_back("error", r.err);
    for (size_t at = 0; at < r.out.size();) {
        const size_t end = r.out.find('\n', at);
        const std::string line = r.out.substr(at, end - at);
        const size_t tab = line.find('\t');
        if (tab != std::string::npos) facts.emplace_back(line.substr(0, tab), line.substr(tab + 1));
        at = end == std::string::npos ? r.out.size() : end + 1;
    }
    return facts;
}

// The values of one fact, in order.
inline std::vector<std::string>
factsOf(const std::vector<std::pair<std::string, std::string>>& facts, const std::string& key) {
    std::vector<std::string> values;
    for (const auto& [k, v] : facts)
        if (k == key) values.push_back(v);
    return values;
}

} // namespace sonteva::test
