#include "workerteam.h"

#include <chrono>
#include <thread>

namespace {

thread_local WorkerTeam *t_current = nullptr;

// How long a member, or the caller waiting for the members, keeps checking
// before it sleeps: longer than the gap between two phases of a block
// elimination (the block's own rows, on the caller), so that the members
// of a solve never need waking; a sleep and wake-up costs tens of
// microseconds each time.
constexpr std::chrono::microseconds kSpin(300);

inline void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Spins until done() holds or the spin time is over; returns done().
template <typename Done>
bool spinFor(Done done)
{
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (;;) {
        for (int i = 0; i < 32; ++i) {
            if (done())
                return true;
            relax();
        }
        if (std::chrono::steady_clock::now() >= until)
            return done();
    }
}

} // namespace

WorkerTeam::WorkerTeam(int size, const QString &name)
    : m_size(size > 1 ? size : 1), m_outer(t_current)
{
    t_current = this;
    m_serves.assign(size_t(m_size), false);
    for (int w = 1; w < m_size; ++w) {
        QThread *t = MyThreads::startIdle(name + QString::number(w));
        if (!t)
            continue;
        m_serves[size_t(w)] = true;
        auto *member = new TeamMember(this, w);
        m_members.push_back(member);
        m_threads.push_back(t);
        MyThreads::run(t, member, SLOT(serve()));
    }
}

WorkerTeam::~WorkerTeam()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_phase.fetch_add(1, std::memory_order_release);
    }
    m_wake.notify_all();
    for (QThread *t : m_threads)
        t->wait();
    MyThreads::joined();
    for (TeamMember *m : m_members)
        delete m;
    t_current = m_outer;
}

WorkerTeam *WorkerTeam::current()
{
    return t_current;
}

std::unique_ptr<WorkerTeam> WorkerTeam::forSize(int size, const QString &name)
{
    if (size < 2)
        return nullptr;
    return std::unique_ptr<WorkerTeam>(new WorkerTeam(size, name));
}

void WorkerTeam::run(int count, const std::function<void(int)> &job)
{
    if (count < 1)
        return;
    const int started = int(m_members.size());
    if (count > 1 && started > 0) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_job = &job;
            m_count = count;
            m_pending.store(started, std::memory_order_relaxed);
            m_phase.fetch_add(1, std::memory_order_release);
        }
        m_wake.notify_all();
    }
    job(0);
    // Shares of members that could not be started, and those beyond the team.
    for (int w = 1; w < count; ++w) {
        if (w >= m_size || !m_serves[size_t(w)])
            job(w);
    }
    if (count > 1 && started > 0) {
        auto finished = [this] { return m_pending.load(std::memory_order_acquire) == 0; };
        if (!spinFor(finished)) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_finished.wait(lock, finished);
        }
    }
}

bool WorkerTeam::awaitPhase(unsigned &seen)
{
    auto moved = [this, seen] { return m_phase.load(std::memory_order_acquire) != seen; };
    if (!spinFor(moved)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, moved);
    }
    // Every member acknowledges every phase, so none is ever skipped.
    ++seen;
    return !m_stop;
}

void WorkerTeam::phaseDone()
{
    if (m_pending.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished.notify_one();
    }
}

void TeamMember::serve()
{
    unsigned seen = 0;
    while (m_team->awaitPhase(seen)) {
        if (m_index < m_team->m_count)
            (*m_team->m_job)(m_index);
        m_team->phaseDone();
    }
    MyThreads::threadFinished(QThread::currentThread(), QStringLiteral("TeamMember::serve"), this,
                              QStringLiteral("WORKERTEAM"));
}
