#ifndef WORKERTEAM_H
#define WORKERTEAM_H

#include "threads/mythreads.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TeamMember;

// A group of pooled worker threads kept for a run of many short phases (the
// blocks of an elimination), so that a phase costs a wake-up instead of a
// thread start. The thread that makes the team is its member 0 and takes
// share 0 of every phase itself; members 1..size-1 are pooled threads that
// wait between phases, spinning a little first.
//
// While a team lives, Reduce::runPhase on the thread that made it runs its
// shares on the team. Teams nest: the innermost one of a thread serves it.
class WorkerTeam
{
public:
    // size: shares a phase may have at most, the calling thread included.
    // A member whose thread cannot be started leaves its shares to the
    // calling thread.
    WorkerTeam(int size, const QString &name);
    ~WorkerTeam();
    WorkerTeam(const WorkerTeam &) = delete;
    WorkerTeam &operator=(const WorkerTeam &) = delete;

    int size() const { return m_size; }
    // Runs job(0..count-1) and waits for all: share w < size on member w,
    // the rest on the calling thread after its own.
    void run(int count, const std::function<void(int)> &job);

    // The innermost team made by the calling thread, or null.
    static WorkerTeam *current();
    // A team of size, or none where one share would be all (size < 2).
    static std::unique_ptr<WorkerTeam> forSize(int size, const QString &name);

private:
    friend class TeamMember;
    // A member's side: waits for the phase after seen; false when the team
    // is being taken down.
    bool awaitPhase(unsigned &seen);
    void phaseDone();

    int m_size = 1;
    WorkerTeam *m_outer = nullptr;
    std::vector<TeamMember *> m_members;
    std::vector<bool> m_serves;   // share w has a started member
    std::vector<QThread *> m_threads;
    // The phase: written by the caller before m_phase moves on, read by the
    // members after they see it move.
    const std::function<void(int)> *m_job = nullptr;
    int m_count = 0;
    bool m_stop = false;
    std::atomic<unsigned> m_phase{0};
    std::atomic<int> m_pending{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_finished;
};

// One pooled thread of a team: serves phases until the team ends.
class TeamMember : public TrxWorker
{
    Q_OBJECT
public:
    TeamMember(WorkerTeam *team, int index) : m_team(team), m_index(index) {}

public slots:
    void serve();

private:
    WorkerTeam *m_team;
    int m_index;
};

#endif
