// SPDX-License-Identifier: GPL-3.0-or-later
// Figures of the script engine, printed as key=value lines: how fast a branch starts, how fast
// trees are built, and what running a script costs against doing its work directly in C++.
#include "actionregistry.h"
#include "kestapplication.h"
#include "kestbranchmanager.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "kestthread.h"
#include "scriptbuilder.h"
#include "variableactions.h"
#include "variablestore.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// CPU time of the calling thread: what its work cost, without the time other processes on a
// busy machine held the core.
qint64 threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Time and thread CPU time of the latest execution of a BenchStamp, by slot ("slot" attribute).
std::atomic<qint64> stamps[2];
std::atomic<qint64> cpuStamps[2];

class BenchStamp : public kestObject
{
    Q_OBJECT
public:
    QString execute() override
    {
        const int slot = element.attribute(QStringLiteral("slot")).toInt();
        stamps[slot] = nowNs();
        cpuStamps[slot] = threadCpuNs();
        return QString();
    }
};

// Holds its branch until the root is told to stop, like a sound that is playing.
class BenchHold : public kestObject
{
    Q_OBJECT
public:
    QString execute() override
    {
        if (!passesSkipTest())
            return QString();
        QEventLoop loop;
        connect(root(), &kestObject::loopStop, &loop, &QEventLoop::quit);
        held = true;
        loop.exec();
        return QString();
    }
    static std::atomic<bool> held;
};
std::atomic<bool> BenchHold::held { false };

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[at];
}

double median(const std::vector<double> &values)
{
    return percentile(values, 0.5);
}

void print(const char *key, double value)
{
    std::printf("%s=%.3f\n", key, value);
    std::fflush(stdout);
}

QDomElement codeElement(QDomDocument &doc, const QString &body)
{
    doc.setContent(QStringLiteral("<Code>bench") + body + QStringLiteral("</Code>"));
    return doc.documentElement();
}

void waitIdle(const kestBranchManager &manager)
{
    while (manager.isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// From run() on this thread to the first action executing on the branch's worker thread.
void startLatency()
{
    QDomDocument doc;
    kestBranchManager manager(nullptr,
        codeElement(doc, QStringLiteral("<ActionList><BenchStamp slot=\"0\"/></ActionList>")), QStringLiteral("bench"));
    std::vector<double> latencies;
    for (int i = 0; i < 1100; ++i) {
        const qint64 start = nowNs();
        manager.run(CLICK);
        waitIdle(manager);
        if (i >= 100) // the first runs warm up allocators and the thread machinery
            latencies.push_back(double(stamps[0] - start) / 1000.0);
    }
    print("start_latency_us_median", median(latencies));
    print("start_latency_us_p95", percentile(latencies, 0.95));
    print("start_latency_us_max", percentile(latencies, 1.0));
}

// A tree of 1,000 actions: a list of 999 values.
void buildSpeed()
{
    QString body = QStringLiteral("<ActionList>");
    for (int i = 0; i < 999; ++i)
        body += QStringLiteral("<Number>%1</Number>").arg(i);
    body += QStringLiteral("</ActionList>");
    QDomDocument doc;
    const QDomElement code = codeElement(doc, body);
    std::vector<double> builds;
    std::vector<double> deletes;
    for (int i = 0; i < 60; ++i) {
        const qint64 start = nowNs();
        std::unique_ptr<kestObject> root = kestScriptBuilder::buildScript(code);
        const qint64 built = nowNs();
        root.reset();
        const qint64 deleted = nowNs();
        if (i >= 10) {
            builds.push_back(double(built - start) / 1000.0 / 1000.0);
            deletes.push_back(double(deleted - built) / 1000.0 / 1000.0);
        }
    }
    print("build_us_per_action", median(builds));
    print("delete_us_per_action", median(deletes));
}

// 10,000 increments of a variable as a script (SetValue in the "!+" form, run by the engine)
// against the same assignments made directly. The ratio is the median of the rounds' ratios of
// thread CPU time: on a shared machine the wall time of either side grows with whatever else runs
// while it runs, and one round's two sides do not run at the same moment.
void overhead()
{
    const int count = 10000;
    const QString name = QStringLiteral("benchCounter");
    QString body = QStringLiteral("<ActionList><BenchStamp slot=\"0\"/>");
    for (int i = 0; i < count; ++i)
        body += QStringLiteral("<SetValue><Text>benchCounter</Text><Text>!+1</Text></SetValue>");
    body += QStringLiteral("<BenchStamp slot=\"1\"/></ActionList>");
    QDomDocument doc;
    kestBranchManager manager(nullptr, codeElement(doc, body), QStringLiteral("bench"));

    std::vector<double> scripted;
    std::vector<double> direct;
    std::vector<double> scriptedCpu;
    std::vector<double> directCpu;
    std::vector<double> ratios;
    std::vector<double> wholeRuns;
    bool counted = true;
    for (int round = 0; round < 15; ++round) {
        kestVariables::assignVariable(name, QStringLiteral("0"));
        const qint64 start = nowNs();
        manager.run(CLICK);
        waitIdle(manager);
        wholeRuns.push_back(double(nowNs() - start) / 1000.0);
        counted = counted && kestVariables::variableValue(name) == QString::number(count);
        const double scriptCpu = double(cpuStamps[1] - cpuStamps[0]) / 1000.0;

        kestVariables::assignVariable(name, QStringLiteral("0"));
        const qint64 directStart = nowNs();
        const qint64 directCpuStart = threadCpuNs();
        for (int i = 0; i < count; ++i) {
            QMutexLocker locker(&kestVariables::scriptMutex());
            kestVariables::assignVariable(name, QStringLiteral("!+1"));
        }
        const double directUsCpu = double(threadCpuNs() - directCpuStart) / 1000.0;
        const double directUs = double(nowNs() - directStart) / 1000.0;
        counted = counted && kestVariables::variableValue(name) == QString::number(count);
        if (round < 2) // the first rounds grow the heaps and warm up the code
            continue;
        scripted.push_back(double(stamps[1] - stamps[0]) / 1000.0);
        direct.push_back(directUs);
        scriptedCpu.push_back(scriptCpu);
        directCpu.push_back(directUsCpu);
        ratios.push_back(scriptCpu / directUsCpu);
    }
    print("setvalue_script_us_10k", median(scripted));
    print("setvalue_direct_us_10k", median(direct));
    print("setvalue_script_cpu_us_10k", median(scriptedCpu));
    print("setvalue_direct_cpu_us_10k", median(directCpu));
    print("setvalue_run_with_build_us_10k", median(wholeRuns));
    print("overhead_ratio_wall", median(scripted) / median(direct));
    print("overhead_ratio", median(ratios));
    print("overhead_ratio_max", percentile(ratios, 1.0));
    print("overhead_counts_correct", counted ? 1 : 0);
}

// A stop reaching a script asleep in a Wait: from the stop signal to the end of the wait.
void waitStop()
{
    QDomDocument doc;
    const QDomElement code = codeElement(
        doc, QStringLiteral("<ActionList><BenchStamp slot=\"0\"/><Wait><Number>2000</Number></Wait></ActionList>"));
    std::vector<double> ends;
    for (int i = 0; i < 50; ++i) {
        std::unique_ptr<kestObject> root = kestScriptBuilder::buildScript(code);
        statRunningObject = root.get();
        stamps[0] = 0;
        std::atomic<qint64> ended { 0 };
        std::unique_ptr<QThread> worker(QThread::create([&root, &ended] {
            root->execute();
            ended = nowNs();
        }));
        worker->start();
        while (stamps[0] == 0)
            QThread::usleep(50);
        QThread::msleep(5); // asleep in the wait by now (a miss shows as about 2 s)
        const qint64 start = nowNs();
        emit root->loopStop();
        worker->wait();
        statRunningObject = nullptr;
        ends.push_back(double(ended - start) / 1000.0);
    }
    print("wait_stop_us_median", median(ends));
    print("wait_stop_us_max", percentile(ends, 1.0));
}

// A click while another click holds its branch: from run() to the newcomer's first action.
// The old branch must end and the newcomer is woken when it has.
void preemptHandover()
{
    QDomDocument oldDoc;
    QDomDocument newDoc;
    kestBranchManager older(
        nullptr, codeElement(oldDoc, QStringLiteral("<ActionList><BenchHold/></ActionList>")), QStringLiteral("older"));
    kestBranchManager newer(nullptr,
        codeElement(newDoc, QStringLiteral("<ActionList><BenchStamp slot=\"0\"/></ActionList>")),
        QStringLiteral("newer"));
    std::vector<double> handovers;
    for (int i = 0; i < 50; ++i) {
        BenchHold::held = false;
        older.run(CLICK);
        while (!BenchHold::held)
            QThread::usleep(50);
        const qint64 start = nowNs();
        newer.run(CLICK);
        waitIdle(newer);
        waitIdle(older);
        handovers.push_back(double(stamps[0] - start) / 1000.0);
    }
    print("preempt_handover_us_median", median(handovers));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("kestora.*.debug=false"));
    kestApplication application;
    kestRegisterActions();
    // The registry may not list the variable actions yet; the benchmark needs SetValue either way.
    if (!kestScriptBuilder::isRegistered(QStringLiteral("SetValue")))
        kestScriptBuilder::registerAction<SetValue>(QStringLiteral("SetValue"));
    kestScriptBuilder::registerAction<BenchStamp>(QStringLiteral("BenchStamp"));
    kestScriptBuilder::registerAction<BenchHold>(QStringLiteral("BenchHold"));

    startLatency();
    buildSpeed();
    overhead();
    preemptHandover();
    waitStop();
    return kestThread::shutdownAll(10000) ? 0 : 1;
}

#include "engine_bench.moc"
