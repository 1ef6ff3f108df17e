// Events of the extraction client: each notification kind is first offered
// to a lock-protected list of listeners that may override the handler's
// default decisions through the out-arguments they receive.
#pragma once

#include <memory>
#include <mutex>

namespace cabclient {

template <typename... Args>
class CCabListener {
public:
    virtual ~CCabListener() = default;

    // False means "drop me": the listener is removed at the next firing.
    virtual bool IsAlive() { return true; }
    virtual void Invoke(Args... args) = 0;

    bool m_bRemoved = false;               // set to be dropped at the next firing
    CCabListener* m_pNext = nullptr;       // owned by the event
};

template <typename... Args>
class CCabEvent {
public:
    using Listener = CCabListener<Args...>;

    CCabEvent() = default;
    ~CCabEvent() { FreeAll(); }
    CCabEvent(const CCabEvent&) = delete;
    CCabEvent& operator=(const CCabEvent&) = delete;

    // Appends a listener; the event owns it from now on and deletes it (with
    // its destructor) when it is dropped or when the event goes away.
    Listener* Attach(std::unique_ptr<Listener> listener) {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        Listener* raw = listener.release();
        raw->m_pNext = nullptr;
        Listener** slot = &m_pHead;
        while (*slot) slot = &(*slot)->m_pNext;
        *slot = raw;
        return raw;
    }

    bool Empty() {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        return m_pHead == nullptr;
    }

    // Drops dead listeners and calls the live ones in order. All but the last
    // are called with the lock held; the last one after leaving it, so it
    // may attach further listeners or fire other events freely.
    void Fire(Args... args) {
        m_lock.lock();
        Listener* previous = nullptr;
        Listener* current = m_pHead;
        while (current) {
            if (current->m_bRemoved || !current->IsAlive()) {
                Listener* next = current->m_pNext;
                if (previous) previous->m_pNext = next;
                else m_pHead = next;
                delete current;
                current = next;
                continue;
            }
            if (!current->m_pNext) {
                m_lock.unlock();
                current->Invoke(args...);
                return;
            }
            current->Invoke(args...);
            previous = current;
            current = current->m_pNext;
        }
        m_lock.unlock();
    }

private:
    void FreeAll() {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        while (m_pHead) {
            Listener* next = m_pHead->m_pNext;
            delete m_pHead;
            m_pHead = next;
        }
    }

    // Recursive, as a critical section is: a listener called under the lock
    // may fire the same event again.
    std::recursive_mutex m_lock;
    Listener* m_pHead = nullptr;
};

}  // namespace cabclient
