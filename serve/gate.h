// How many conversions run at once, and how many requests may wait for one.
#pragma once

#include <condition_variable>
#include <mutex>

namespace mwconv::serve {

// A request is admitted (or refused, when `running` conversions run and
// `waiting` more requests wait already) before its upload is read, and then
// waits for one of the `running` places to convert.
class Gate {
public:
    Gate(unsigned running, unsigned waiting) : running_(running), admitted_max_(running + waiting) {}

    // A place among the admitted, held while it lives.
    class Admission {
    public:
        explicit Admission(Gate *gate) : gate_(gate) {}
        Admission(Admission &&other) noexcept : gate_(other.gate_) { other.gate_ = nullptr; }
        Admission(const Admission &) = delete;
        Admission &operator=(const Admission &) = delete;
        Admission &operator=(Admission &&) = delete;
        ~Admission() {
            if (gate_ != nullptr) gate_->leave();
        }
        explicit operator bool() const { return gate_ != nullptr; }
        // Waits for a place to convert, held while the returned lock lives.
        std::unique_lock<Gate> convert() const { return std::unique_lock<Gate>(*gate_); }

    private:
        Gate *gate_;
    };

    // Admits a request, or refuses it (the result is false).
    Admission admit() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (admitted_ >= admitted_max_) return Admission(nullptr);
        ++admitted_;
        return Admission(this);
    }

    // For std::unique_lock: a place to convert.
    void lock() {
        std::unique_lock<std::mutex> lock(mutex_);
        free_.wait(lock, [this] { return converting_ < running_; });
        ++converting_;
    }
    void unlock() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            --converting_;
        }
        free_.notify_one();
    }

private:
    void leave() {
        const std::lock_guard<std::mutex> lock(mutex_);
        --admitted_;
    }

    std::mutex mutex_;
    std::condition_variable free_;
    const unsigned running_, admitted_max_;
    unsigned admitted_ = 0, converting_ = 0;
};

}  // namespace mwconv::serve
