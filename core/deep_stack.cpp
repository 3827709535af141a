#include "deep_stack.hpp"

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace tavrelo {
namespace {

constexpr std::size_t kFreshStackBytes = std::size_t{256} << 20;  // reserved, touched lazily
constexpr std::size_t kSafetyMargin = std::size_t{256} << 10;     // room kept for leaf calls

// Lowest address the current thread's walk may reach; 0 until first asked.
thread_local std::uintptr_t stack_floor = 0;

std::uintptr_t current_address() noexcept {
    char probe = 0;
    // Keep the probe on the stack rather than in a register.
    return reinterpret_cast<std::uintptr_t>(static_cast<volatile char*>(&probe));
}

std::uintptr_t floor_of_this_thread() noexcept {
    pthread_attr_t attr;
    void* low = nullptr;
    std::size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstack(&attr, &low, &size);
        pthread_attr_destroy(&attr);
    }
    const auto here = current_address();
    if (low == nullptr || size < 2 * kSafetyMargin) {
        // Unknown stack: allow a modest amount below the current position.
        return here - kSafetyMargin;
    }
    return reinterpret_cast<std::uintptr_t>(low) + kSafetyMargin;
}

struct FreshStackJob {
    const std::function<void()>* work;
    std::exception_ptr error;
};

void* fresh_stack_main(void* arg) {
    auto* job = static_cast<FreshStackJob*>(arg);
    stack_floor = current_address() - (kFreshStackBytes - kSafetyMargin);
    try {
        (*job->work)();
    } catch (...) {
        job->error = std::current_exception();
    }
    return nullptr;
}

}  // namespace

bool stack_is_low() noexcept {
    if (stack_floor == 0) {
        stack_floor = floor_of_this_thread();
    }
    return current_address() < stack_floor;
}

namespace detail {

void run_on_fresh_stack(const std::function<void()>& work) {
    FreshStackJob job{&work, nullptr};
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        throw std::bad_alloc();
    }
    pthread_attr_setstacksize(&attr, kFreshStackBytes);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, fresh_stack_main, &job);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        throw std::bad_alloc();
    }
    pthread_join(thread, nullptr);
    if (job.error) {
        std::rethrow_exception(job.error);
    }
}

}  // namespace detail
}  // namespace tavrelo
