#pragma once

// Key-value observation for the updater's properties: an observer is called once when it is
// registered (with the initial value) and again after every change, until its Observation is
// dropped. Observers are called synchronously, like the platform's key-value observing; the one
// who observes decides whether to hop to the main loop.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace quorvane {

// Keeps one observer registered; dropping it unregisters. Holds the property only weakly, so it
// may outlive the object it observes.
class Observation {
public:
    Observation() = default;
    Observation(std::weak_ptr<std::map<std::uint64_t, std::function<void(bool)>>> observers, std::uint64_t id)
        : observers_(std::move(observers))
        , id_(id)
    {
    }
    Observation(Observation&& other) noexcept
        : observers_(std::move(other.observers_))
        , id_(other.id_)
    {
        other.observers_.reset();
    }
    Observation& operator=(Observation&& other) noexcept
    {
        if (this != &other) {
            cancel();
            observers_ = std::move(other.observers_);
            id_ = other.id_;
            other.observers_.reset();
        }
        return *this;
    }
    Observation(const Observation&) = delete;
    Observation& operator=(const Observation&) = delete;
    ~Observation() { cancel(); }

    void cancel()
    {
        if (auto observers = observers_.lock())
            observers->erase(id_);
        observers_.reset();
    }

private:
    std::weak_ptr<std::map<std::uint64_t, std::function<void(bool)>>> observers_;
    std::uint64_t id_ = 0;
};

// A boolean property that can be observed.
class ObservableBool {
public:
    explicit ObservableBool(bool value = false)
        : value_(value)
    {
    }

    bool get() const { return value_; }

    // Changes the value and tells every observer; setting the same value again is no change.
    void set(bool value)
    {
        if (value == value_)
            return;
        value_ = value;
        // Works on copies: an observer may register or drop observations, or even destroy this
        // property, while being told.
        auto observers = *observers_;
        std::weak_ptr<Map> alive = observers_;
        for (auto& [id, observer] : observers) {
            auto still = alive.lock();
            if (!still || !still->contains(id))
                continue;  // dropped (or the property destroyed) by an earlier observer
            observer(value);
        }
    }

    [[nodiscard]] Observation observe(std::function<void(bool)> observer)
    {
        std::uint64_t id = nextId_++;
        (*observers_)[id] = observer;
        Observation observation(observers_, id);
        observer(value_);
        return observation;
    }

private:
    using Map = std::map<std::uint64_t, std::function<void(bool)>>;
    bool value_;
    std::shared_ptr<Map> observers_ = std::make_shared<Map>();
    std::uint64_t nextId_ = 1;
};

}  // namespace quorvane
