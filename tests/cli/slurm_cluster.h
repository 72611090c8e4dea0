#pragma once
// A private single-node Slurm cluster: a munged of its own (key, socket, pid file), a
// slurmctld and a slurmd on free ports, everything under one temporary folder and reached
// through SLURM_CONF. Jobs run as root on this machine. On the way out the jobs submitted
// here are cancelled and the daemons are stopped by their pid files (a job step's
// slurmstepd ignores SIGTERM, so the queue must be empty first). Where it cannot start,
// skipReason() says why. Used by the tests and the catalogue benchmark; no test framework.
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace sonteva::test {

class SlurmCluster {
public:
    SlurmCluster() {
        if (const std::string why = start(); !why.empty())
            skip_ = "Slurm cannot start here: " + why;
    }
    ~SlurmCluster() { stop(); }
    SlurmCluster(const SlurmCluster&) = delete;
    SlurmCluster& operator=(const SlurmCluster&) = delete;

    // Empty once the cluster is up.
    const std::string& skipReason() const { return skip_; }
    const std::string& folder() const { return folder_; }
    // The environment of the clients and of the jobs.
    QProcessEnvironment environment() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("SLURM_CONF", QString::fromStdString(folder_ + "/slurm.conf"));
        for (const auto& [name, value] : extra_)
            e.insert(name, value);
        return e;
    }
    // Added to the environment of later clients, and so of the jobs they submit.
    void setEnv(const QString& name, const QString& value) { extra_[name] = value; }

    // Where a program is: on PATH, else in the system folders root's PATH has.
    static QString tool(const QString& name) {
        QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty()) path = QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin"});
        return path;
    }

    // Runs a client (sinfo, sbatch, ...); its standard output, or nothing on failure.
    std::optional<std::string> client(const QString& program, const QStringList& args,
                                      std::string* error = nullptr) const {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(tool(program), args);
        const bool ok =
            p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (error) *error = p.readAllStandardError().toStdString();
        if (!ok) return std::nullopt;
        return p.readAllStandardOutput().toStdString();
    }

    // Submits a job array; its id, or nothing (and the reason in `error`).
    std::optional<std::string> submitArray(const QStringList& args, std::string* error) {
        const auto out = client("sbatch", QStringList{"--parsable"} + args, error);
        if (!out) return std::nullopt;
        std::string id = out->substr(0, out->find_first_of(";\n"));
        jobs_.push_back(id);
        return id;
    }

    // Waits until none of the job's tasks is queued or running any more.
    bool waitFinished(const std::string& job, int seconds = 240) const {
        return waitFor(seconds, [&] {
            const auto out = client("squeue", {"-h", "-j", QString::fromStdString(job)});
            return out && out->find_first_not_of(" \n") == std::string::npos;
        });
    }

    // ArrayTaskId -> JobState ("COMPLETED", "CANCELLED", "FAILED", ...).
    std::map<int, std::string> taskStates(const std::string& job) const {
        std::map<int, std::string> states;
        const auto out = client("scontrol", {"-o", "show", "job", QString::fromStdString(job)});
        std::istringstream lines(out.value_or(""));
        for (std::string line; std::getline(lines, line);) {
            const std::string task = field(line, "ArrayTaskId="), state = field(line, "JobState=");
            if (!task.empty()) states[std::atoi(task.c_str())] = state;
        }
        return states;
    }

private:
    static bool processGone(pid_t pid) {
        if (::kill(pid, 0) != 0) return true;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pidText, name, state;
        stat >> pidText >> name >> state;
        return state == "Z"; // exited; whoever adopted it has not reaped it
    }

    template <typename Check> static bool waitFor(int seconds, Check done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }

    static std::string field(const std::string& line, const std::string& name) {
        const size_t at = line.find(name);
        if (at == std::string::npos) return {};
        const size_t start = at + name.size();
        return line.substr(start, line.find(' ', start) - start);
    }

    static int freePort() {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        int port = 0;
        if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0)
            port = ntohs(a.sin_port);
        ::close(s);
        return port;
    }

    static std::string slurp(const std::string& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // The daemon's pid, once it has written it (its launcher may return first).
    static pid_t pidIn(const std::string& file) {
        pid_t pid = 0;
        waitFor(10, [&] { return (pid = static_cast<pid_t>(std::atol(slurp(file).c_str()))) > 0; });
        return pid;
    }

    // Launches a daemon (its launcher forks it and returns) and reads its pid once written;
    // the reason it did not start otherwise.
    std::string launch(const QString& program, const QStringList& args, const std::string& log,
                       const std::string& pidFile, pid_t& pid) const {
        std::string why;
        if (!client(program, args, &why))
            return program.toStdString() + " did not start: " + why + slurp(log);
        pid = pidIn(pidFile);
        return {};
    }

    // A private munged: its key belongs to munge with mode 400, in a folder of mode 711
    // (700 is refused).
    std::string startMunge() {
        const passwd* munge = ::getpwnam("munge");
        if (!munge) return "there is no munge user";
        const std::string dir = folder_ + "/munge";
        {
            std::ifstream random("/dev/urandom", std::ios::binary);
            std::string key(1024, '\0');
            random.read(key.data(), static_cast<std::streamsize>(key.size()));
            std::ofstream(dir + "/munge.key", std::ios::binary) << key;
        }
        if (::chown(dir.c_str(), munge->pw_uid, munge->pw_gid) != 0 ||
            ::chown((dir + "/munge.key").c_str(), munge->pw_uid, munge->pw_gid) != 0)
            return "cannot hand the munge key to munge";
        ::chmod(dir.c_str(), 0711);
        ::chmod((dir + "/munge.key").c_str(), 0400);
        const QString m = QString::fromStdString(dir);
        return launch("runuser",
                      {"-u", "munge", "--", "munged", "--socket=" + m + "/munge.socket",
                       "--key-file=" + m + "/munge.key", "--pid-file=" + m + "/munged.pid",
                       "--log-file=" + m + "/munged.log", "--seed-file=" + m + "/munged.seed"},
                      dir + "/munged.log", dir + "/munged.pid", mungedPid_);
    }

    std::string start() {
        for (const char* name : {"munged", "runuser", "slurmctld", "slurmd", "sbatch", "squeue",
                                 "sinfo", "scancel", "scontrol"})
            if (tool(name).isEmpty())
                return std::string(name) + " is not installed (scripts/install-deps installs "
                                           "slurmctld, slurmd, slurm-client and munge)";
        if (::geteuid() != 0) return "its daemons need root";
        // Under /tmp: munged insists that every folder on the way to its socket be open to
        // all, which a build folder under a private home is not.
        char pattern[] = "/tmp/sonteva-slurm-XXXXXX";
        if (!::mkdtemp(pattern)) return "no temporary folder";
        folder_ = pattern;
        ::chmod(folder_.c_str(), 0711);
        for (const char* sub : {"munge", "state", "spool", "log", "jobs"})
            std::filesystem::create_directories(folder_ + "/" + sub);
        if (std::string why = startMunge(); !why.empty()) return why;
        const std::string conf = config();
        if (conf.empty()) return "slurmd -C does not describe this machine";
        std::ofstream(folder_ + "/slurm.conf") << conf;
        const std::string log = folder_ + "/log/";
        for (const auto& [daemon, pid] :
             {std::pair<const char*, pid_t*>{"slurmctld", &slurmctldPid_}, {"slurmd", &slurmdPid_}})
            if (std::string why = launch(daemon, {}, log + daemon + ".log",
                                         folder_ + "/" + daemon + ".pid", *pid);
                !why.empty())
                return why;
        const bool idle = waitFor(30, [&] {
            const auto out = client("sinfo", {"-h", "-o", "%T"});
            return out && out->rfind("idle", 0) == 0;
        });
        if (!idle)
            return "the node never became idle\n" + slurp(log + "slurmctld.log") +
                   slurp(log + "slurmd.log");
        return {};
    }

    // slurm.conf for this machine alone; empty when slurmd cannot describe it.
    std::string config() const {
        QProcess describe;
        describe.start(tool("slurmd"), {"-C"});
        describe.waitForFinished(30000);
        std::string node = describe.readAllStandardOutput().toStdString();
        node = node.substr(0, node.find('\n'));
        if (node.rfind("NodeName=", 0) != 0) return {};
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        std::string shortHost = host;
        shortHost = shortHost.substr(0, shortHost.find('.'));
        const std::string& f = folder_;
        std::ostringstream c;
        c << "ClusterName=sontevatest\n"
          << "SlurmctldHost=" << shortHost << "(127.0.0.1)\n"
          << "SlurmctldPort=" << freePort() << "\nSlurmdPort=" << freePort() << "\n"
          << "AuthType=auth/munge\nAuthInfo=socket=" << f << "/munge/munge.socket\n"
          << "CredType=cred/munge\nSlurmUser=root\nSlurmdUser=root\n"
          << "StateSaveLocation=" << f << "/state\nSlurmdSpoolDir=" << f << "/spool\n"
          << "SlurmctldPidFile=" << f << "/slurmctld.pid\nSlurmdPidFile=" << f << "/slurmd.pid\n"
          << "SlurmctldLogFile=" << f << "/log/slurmctld.log\n"
          << "SlurmdLogFile=" << f << "/log/slurmd.log\n"
          << "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n"
          << "JobAcctGatherType=jobacct_gather/none\n"
          // Cores, not whole nodes, so that the array's tasks share the machine.
          << "SelectType=select/cons_tres\nSelectTypeParameters=CR_Core\n"
          << "SchedulerParameters=sched_min_interval=0\n"
          << "MpiDefault=none\nMailProg=/bin/true\nReturnToService=2\n"
          << node << " NodeAddr=127.0.0.1 State=UNKNOWN\n"
          << "PartitionName=test Nodes=" << node.substr(9, node.find(' ') - 9)
          << " Default=YES MaxTime=INFINITE State=UP\n";
        return c.str();
    }

    static void stopProcess(pid_t pid) {
        if (pid <= 0 || processGone(pid)) return;
        ::kill(pid, SIGTERM);
        if (!waitFor(15, [&] { return processGone(pid); })) ::kill(pid, SIGKILL);
        waitFor(5, [&] { return processGone(pid); });
    }

    void stop() {
        if (folder_.empty()) return;
        if (slurmctldPid_ > 0) {
            for (const std::string& job : jobs_)
                client("scancel", {QString::fromStdString(job)});
            waitFor(60, [&] {
                const auto out = client("squeue", {"-h"});
                return !out || out->find_first_not_of(" \n") == std::string::npos;
            });
        }
        stopProcess(slurmdPid_);
        stopProcess(slurmctldPid_);
        stopProcess(mungedPid_);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::string skip_;
    std::string folder_;
    std::map<QString, QString> extra_;
    std::vector<std::string> jobs_;
    pid_t mungedPid_ = 0;
    pid_t slurmctldPid_ = 0;
    pid_t slurmdPid_ = 0;
};

} // namespace sonteva::test
