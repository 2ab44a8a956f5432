// SPDX-License-Identifier: GPL-3.0-or-later
#include "controlflow.h"

#include "kestapplication.h"
#include "kestcommands.h"
#include "kestlog.h"
#include "kestthread.h"
#include "variablestore.h"

#include <QElapsedTimer>

#include <memory>

using kestVariables::resolveValue;

namespace {

// A decimal integer; 0 when the text is not one.
int integerOf(const QString &text)
{
    return text.toInt();
}

bool bothIntegers(const QString &leftText, const QString &rightText, int &left, int &right)
{
    bool leftOk = false;
    bool rightOk = false;
    left = leftText.toInt(&leftOk);
    right = rightText.toInt(&rightOk);
    return leftOk && rightOk;
}

} // namespace

QString If::execute()
{
    return argument(integerOf(argument(0)) != 0 ? 1 : 2);
}

QString IfEqual::execute()
{
    if (!passesSkipTest())
        return QString();
    const bool equal = resolveValue(argument(0)) == resolveValue(argument(1));
    return argument(equal ? 2 : 3);
}

QString IfNot::execute()
{
    if (!passesRunTest())
        return QString();
    const bool equal = resolveValue(argument(0)) == resolveValue(argument(1));
    return argument(equal ? 3 : 2);
}

QString IfHigher::execute()
{
    if (!passesRunTest())
        return QString();
    const QString leftText = argument(0);
    const QString rightText = argument(1);
    qCDebug(lcActions).noquote() << QStringLiteral("[LIB] IfHigher (") + leftText + QLatin1Char(',') + rightText
            + QLatin1Char(')');
    int left = 0;
    int right = 0;
    const bool higher = bothIntegers(resolveValue(leftText), resolveValue(rightText), left, right) && left > right;
    return argument(higher ? 2 : 3);
}

QString IfLower::execute()
{
    if (!passesRunTest())
        return QString();
    int left = 0;
    int right = 0;
    const bool lower = bothIntegers(resolveValue(argument(0)), resolveValue(argument(1)), left, right) && left < right;
    return argument(lower ? 2 : 3);
}

QString SelectCase::execute()
{
    if (!passesRunTest())
        return QString();
    const QString selector = resolveValue(argument(0));
    for (int i = 1;; ++i) {
        kestObject *child = childAction(i);
        if (!child)
            break;
        auto *singleCase = qobject_cast<SingleCase *>(child);
        if (singleCase && singleCase->matchCase(selector) == QLatin1String("success"))
            break;
    }
    return QString();
}

QString SingleCase::matchCase(const QString &value)
{
    if (!passesSkipTest())
        return QString();
    const QString name = objectName();
    if (name != QLatin1String("default") && resolveValue(name) != value)
        return QString();
    argument(0);
    return QStringLiteral("success");
}

QString ForLoop::execute()
{
    const qint64 start = integerOf(argument(0));
    const qint64 end = integerOf(argument(1));
    const qint64 step = integerOf(argument(2));
    // The stop test on every pass is what ends a loop whose step never reaches the end.
    for (qint64 counter = start; counter <= end && passesSkipTest(); counter += step) {
        argument(3);
        argument(4);
    }
    return QString();
}

QString CallProcedure::execute()
{
    if (!passesRunTest())
        return QString();
    const QString name = argument(0);
    kestApplication *app = kestApplication::instance();
    // The procedure hangs below this action so that it shares the caller's root and stop flags;
    // it goes again when done, so a call inside a loop does not pile up trees.
    // A procedure that calls itself would nest until the stack overflows: calls nest at most
    // MaxProcedureDepth deep on one branch, and a call beyond that returns at once.
    thread_local int depth = 0;
    const qint64 stack = kestThread::stackLeft();
    if (depth >= MaxProcedureDepth || (stack >= 0 && stack < StackReserve)) {
        qCWarning(lcActions).noquote()
            << QStringLiteral("[LIB] CallProcedure: %1 not called, calls nested %2 deep").arg(name).arg(depth);
        return name;
    }
    std::unique_ptr<kestObject> tree = app ? app->procedureTree(name) : nullptr;
    if (tree) {
        // This action owns the called tree while it runs (as its child), then deletes it.
        kestObject *procedure = tree.release();
        procedure->setParent(this);
        ++depth;
        procedure->execute();
        --depth;
        delete procedure;
    }
    return name;
}

Exit::Exit()
{
    connectCommands();
}

QString Exit::execute()
{
    if (passesSkipTest())
        emit gsSendEvent(kestCommand::Exit, QString());
    return QString();
}

QString ExitProc::execute()
{
    root()->skipObject = true;
    return QString();
}

QString Wait::execute()
{
    if (!passesRunTest())
        return QString();
    kestObject *top = root();
    // Direct: the stop comes from another thread while this one sleeps without an event loop.
    // The functor holds what it touches, so a call in flight outlives this action safely; the
    // root it names lives until its branch is unregistered, which stop senders wait for.
    const QMetaObject::Connection stop = connect(
        top, &kestObject::loopStop, this,
        [state = m_state, top] {
            // A click cuts a registered procedure's wait short and the procedure goes on; any
            // other stop that reaches the root ends the rest of the script as well.
            if (top->prio.load() != PROCEDURE)
                top->skipObject = true;
            QMutexLocker locker(&state->lock);
            state->quit = true;
            state->woken.wakeAll();
        },
        Qt::DirectConnection);
    const int duration = integerOf(argument(0));
    qCDebug(lcActions).noquote() << QStringLiteral("[LIB] Wait (") + QString::number(duration) + QLatin1Char(')');
    // Whole steps of 10 ms, as courses were timed with.
    const qint64 total = duration > 0 ? (qint64(duration) + 9) / 10 * 10 : 0;
    QElapsedTimer clock;
    clock.start();
    {
        QMutexLocker locker(&m_state->lock);
        while (!top->skipObject.load() && !m_state->quit) {
            const qint64 left = total - clock.elapsed();
            if (left <= 0)
                break;
            // A stop signal wakes the wait at once; a stop flag set without one (by the tree
            // itself or a test) is seen within a step.
            m_state->woken.wait(&m_state->lock, ulong(qMin<qint64>(left, 10)));
        }
    }
    disconnect(stop);
    qCDebug(lcActions).noquote() << QStringLiteral("[LIB] Wait (end)");
    return QString();
}

void Wait::myQuit()
{
    kestObject *top = root();
    if (top->prio.load() != PROCEDURE)
        top->skipObject = true;
    QMutexLocker locker(&m_state->lock);
    m_state->quit = true;
    m_state->woken.wakeAll();
}
