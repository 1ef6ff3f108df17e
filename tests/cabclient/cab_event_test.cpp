#include "cabclient/cab_event.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using TestEvent = cabclient::CCabEvent<int, int*>;

struct Probe : cabclient::CCabListener<int, int*> {
    Probe(std::string name, std::vector<std::string>& log, int* destroyed = nullptr)
        : m_name(std::move(name)), m_log(log), m_destroyed(destroyed) {}
    ~Probe() override {
        if (m_destroyed) ++*m_destroyed;
    }
    bool IsAlive() override { return m_alive; }
    void Invoke(int value, int* answer) override {
        m_log.push_back(m_name + ":" + std::to_string(value));
        *answer += 1;
    }
    std::string m_name;
    std::vector<std::string>& m_log;
    int* m_destroyed;
    bool m_alive = true;
};

TEST(CabEvent, CallsListenersInOrderAndLetsThemChangeTheAnswer) {
    std::vector<std::string> log;
    TestEvent event;
    int answer = 0;
    event.Fire(1, &answer);  // empty: nothing happens
    EXPECT_EQ(answer, 0);
    event.Attach(std::make_unique<Probe>("a", log));
    event.Attach(std::make_unique<Probe>("b", log));
    event.Fire(7, &answer);
    EXPECT_EQ(log, (std::vector<std::string>{"a:7", "b:7"}));
    EXPECT_EQ(answer, 2);
}

TEST(CabEvent, DropsRemovedAndDeadListenersAndRunsTheirDestructors) {
    std::vector<std::string> log;
    int destroyed = 0;
    {
        TestEvent event;
        auto* first = static_cast<Probe*>(event.Attach(std::make_unique<Probe>("a", log, &destroyed)));
        auto* middle = static_cast<Probe*>(event.Attach(std::make_unique<Probe>("b", log, &destroyed)));
        auto* last = static_cast<Probe*>(event.Attach(std::make_unique<Probe>("c", log, &destroyed)));
        first->m_bRemoved = true;
        middle->m_alive = false;
        int answer = 0;
        event.Fire(1, &answer);
        EXPECT_EQ(log, (std::vector<std::string>{"c:1"}));
        EXPECT_EQ(destroyed, 2);
        last->m_bRemoved = true;
        log.clear();
        event.Fire(2, &answer);
        EXPECT_TRUE(log.empty());
        EXPECT_TRUE(event.Empty());
        EXPECT_EQ(destroyed, 3);
        event.Attach(std::make_unique<Probe>("d", log, &destroyed));
    }
    EXPECT_EQ(destroyed, 4);  // freed with the event
}

// The last listener runs after the lock is left, so it may attach another
// listener to the same event; listeners before it run under the lock.
TEST(CabEvent, LastListenerMayAttachToItsOwnEvent) {
    struct Attacher : cabclient::CCabListener<int, int*> {
        explicit Attacher(TestEvent& ev) : m_event(ev) {}
        void Invoke(int, int* answer) override {
            ++*answer;
            if (!m_done) {
                m_done = true;
                m_event.Attach(std::make_unique<Attacher>(m_event));
            }
        }
        TestEvent& m_event;
        bool m_done = false;
    };
    TestEvent event;
    event.Attach(std::make_unique<Attacher>(event));
    int answer = 0;
    event.Fire(0, &answer);
    EXPECT_EQ(answer, 1);
    event.Fire(0, &answer);
    EXPECT_EQ(answer, 3);  // both listeners now
}

}  // namespace
