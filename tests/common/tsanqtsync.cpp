// SPDX-License-Identifier: GPL-3.0-or-later
// Under ThreadSanitizer only: Qt's locks, wait conditions, thread ends, connections and posted
// events, as this program's code goes through them, made visible to the sanitizer. Qt's library
// is not instrumented, so without this every lock taken through QMutexLocker, QReadLocker or
// QWaitCondition looks like no lock at all and each access it guards is reported as a race. Each
// function below replaces Qt's for calls from this program, tells the sanitizer what it orders,
// and calls Qt's own. Connections and posted events are modelled coarsely (one lock each for the
// whole program), which can hide a race that only an unrelated connection or event would order.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KEST_THREAD_SANITIZER
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(KEST_THREAD_SANITIZER)

#include <QDeadlineTimer>
#include <QMutex>
#include <QReadWriteLock>
#include <QThread>
#include <QWaitCondition>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

#include <cstdlib>

namespace {

// Stand for Qt's internal locks of connection lists and of posted-event queues.
char connectionLists;
char postedEvents;

template <typename Function> Function qtOwn(const char *symbol)
{
    void *address = dlvsym(RTLD_NEXT, symbol, "Qt_5");
    if (!address)
        std::abort(); // a Qt without the symbol: better no test run than one with blind spots
    return reinterpret_cast<Function>(address);
}

} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto own = qtOwn<void (*)(QMutex *)>("_ZN6QMutex4lockEv");
    own(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto own = qtOwn<bool (*)(QMutex *, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = own(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto own = qtOwn<void (*)(QMutex *)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    own(this);
}

void QReadWriteLock::lockForRead()
{
    static const auto own = qtOwn<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock11lockForReadEv");
    own(this);
    __tsan_acquire(this);
}

void QReadWriteLock::lockForWrite()
{
    static const auto own = qtOwn<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock12lockForWriteEv");
    own(this);
    __tsan_acquire(this);
}

void QReadWriteLock::unlock()
{
    static const auto own = qtOwn<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock6unlockEv");
    __tsan_release(this);
    own(this);
}

bool QWaitCondition::wait(QMutex *lockedMutex, QDeadlineTimer deadline)
{
    static const auto own = qtOwn<bool (*)(QWaitCondition *, QMutex *, QDeadlineTimer)>(
        "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    __tsan_release(lockedMutex);
    const bool woken = own(this, lockedMutex, deadline);
    __tsan_acquire(lockedMutex);
    return woken;
}

bool QWaitCondition::wait(QMutex *lockedMutex, unsigned long time)
{
    static const auto own
        = qtOwn<bool (*)(QWaitCondition *, QMutex *, unsigned long)>("_ZN14QWaitCondition4waitEP6QMutexm");
    __tsan_release(lockedMutex);
    const bool woken = own(this, lockedMutex, time);
    __tsan_acquire(lockedMutex);
    return woken;
}

// Connections: Qt keeps connection lists under an internal lock and an emission reads them with
// acquiring loads, so a connection made on one thread is safely seen (with what its functor
// holds) by an emission on another. Taken here as one lock for connect and disconnect, and an
// acquire of it for an emission.
QMetaObject::Connection QObject::connectImpl(const QObject *sender, void **signal, const QObject *receiver,
    void **slotPtr, QtPrivate::QSlotObjectBase *slot, Qt::ConnectionType type, const int *types,
    const QMetaObject *senderMetaObject)
{
    using Own = QMetaObject::Connection (*)(const QObject *, void **, const QObject *, void **,
        QtPrivate::QSlotObjectBase *, Qt::ConnectionType, const int *, const QMetaObject *);
    static const auto own = qtOwn<Own>(
        "_ZN7QObject11connectImplEPKS_PPvS1_S3_PN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPKiPK11QMetaObject");
    __tsan_acquire(&connectionLists);
    QMetaObject::Connection connection = own(sender, signal, receiver, slotPtr, slot, type, types, senderMetaObject);
    __tsan_release(&connectionLists);
    return connection;
}

QMetaObject::Connection QMetaObject::connect(
    const QObject *sender, int signalIndex, const QObject *receiver, int methodIndex, int type, int *types)
{
    using Own = QMetaObject::Connection (*)(const QObject *, int, const QObject *, int, int, int *);
    static const auto own = qtOwn<Own>("_ZN11QMetaObject7connectEPK7QObjectiS2_iiPi");
    __tsan_acquire(&connectionLists);
    QMetaObject::Connection connection = own(sender, signalIndex, receiver, methodIndex, type, types);
    __tsan_release(&connectionLists);
    return connection;
}

bool QObject::disconnect(const QMetaObject::Connection &connection)
{
    static const auto own
        = qtOwn<bool (*)(const QMetaObject::Connection &)>("_ZN7QObject10disconnectERKN11QMetaObject10ConnectionE");
    __tsan_acquire(&connectionLists);
    const bool disconnected = own(connection);
    __tsan_release(&connectionLists);
    return disconnected;
}

void QMetaObject::activate(QObject *sender, const QMetaObject *metaObject, int localSignalIndex, void **argv)
{
    using Own = void (*)(QObject *, const QMetaObject *, int, void **);
    static const auto own = qtOwn<Own>("_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    __tsan_acquire(&connectionLists);
    __tsan_release(&postedEvents); // a queued connection posts the call
    own(sender, metaObject, localSignalIndex, argv);
}

// Posted events (queued calls and signals, invokeMethod): what the poster did before is seen by
// the receiver when the event is delivered, through the queue's lock. The delivery side is seen
// for this program's own classes, whose virtual tables name this event().
bool QMetaObject::invokeMethodImpl(
    QObject *object, QtPrivate::QSlotObjectBase *slot, Qt::ConnectionType type, void *ret)
{
    using Own = bool (*)(QObject *, QtPrivate::QSlotObjectBase *, Qt::ConnectionType, void *);
    static const auto own = qtOwn<Own>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    __tsan_release(&postedEvents);
    const bool invoked = own(object, slot, type, ret);
    __tsan_acquire(&postedEvents); // a blocking call returns after the receiver ran it
    return invoked;
}

bool QObject::event(QEvent *event)
{
    static const auto own = qtOwn<bool (*)(QObject *, QEvent *)>("_ZN7QObject5eventEP6QEvent");
    __tsan_acquire(&postedEvents);
    const bool handled = own(this, event);
    __tsan_release(&postedEvents);
    return handled;
}

// A thread's last steps (its finished() signal, on the thread itself) before wait() returns.
void QThread::start(Priority priority)
{
    static const auto own = qtOwn<void (*)(QThread *, Priority)>("_ZN7QThread5startENS_8PriorityE");
    connect(this, &QThread::finished, [this] { __tsan_release(this); });
    own(this, priority);
}

// isFinished() reads the state the thread's last steps set, under the thread's own lock.
bool QThread::isFinished() const
{
    static const auto own = qtOwn<bool (*)(const QThread *)>("_ZNK7QThread10isFinishedEv");
    const bool finished = own(this);
    if (finished)
        __tsan_acquire(const_cast<QThread *>(this));
    return finished;
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto own = qtOwn<bool (*)(QThread *, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = own(this, deadline);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

bool QThread::wait(unsigned long time)
{
    static const auto own = qtOwn<bool (*)(QThread *, unsigned long)>("_ZN7QThread4waitEm");
    const bool ended = own(this, time);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

#endif
