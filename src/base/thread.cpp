#include "base/thread.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <system_error>
#include <utility>

namespace tallo {
namespace {

struct Start {
    std::function<void(std::stop_token)> work;
    std::stop_token stop;
};

extern "C" void* run_start(void* start) noexcept {
    const std::unique_ptr<Start> owned(static_cast<Start*>(start));
    owned->work(std::move(owned->stop));
    return nullptr;
}

// `bytes` rounded up to whole pages and to the least stack the system allows.
std::size_t usable_stack_size(std::size_t bytes) noexcept {
    const long page = sysconf(_SC_PAGESIZE);
    const std::size_t page_bytes = page > 0 ? static_cast<std::size_t>(page) : 4096;
    const long least = sysconf(_SC_THREAD_STACK_MIN);
    bytes = std::max(bytes, least > 0 ? static_cast<std::size_t>(least) : std::size_t{16384});
    return (bytes + page_bytes - 1) / page_bytes * page_bytes;
}

// Thread attributes that pthread_attr_destroy releases on every path.
class ThreadAttributes {
public:
    ThreadAttributes() {
        if (const int error = pthread_attr_init(&attributes_)) throw std::system_error(error, std::generic_category());
    }
    ThreadAttributes(const ThreadAttributes&) = delete;
    ThreadAttributes& operator=(const ThreadAttributes&) = delete;
    ~ThreadAttributes() { pthread_attr_destroy(&attributes_); }
    pthread_attr_t* get() noexcept { return &attributes_; }

private:
    pthread_attr_t attributes_;
};

// Starts `start` on a new thread with a stack of at least `stack_bytes`,
// joinable or detached; throws std::system_error, the work not run, when no
// thread can be started.
pthread_t start_thread(std::size_t stack_bytes, bool detached, std::unique_ptr<Start> start) {
    ThreadAttributes attributes;
    if (const int error = pthread_attr_setstacksize(attributes.get(), usable_stack_size(stack_bytes))) {
        throw std::system_error(error, std::generic_category(), "pthread_attr_setstacksize");
    }
    if (detached) {
        if (const int error = pthread_attr_setdetachstate(attributes.get(), PTHREAD_CREATE_DETACHED)) {
            throw std::system_error(error, std::generic_category(), "pthread_attr_setdetachstate");
        }
    }
    pthread_t handle{};
    if (const int error = pthread_create(&handle, attributes.get(), run_start, start.get())) {
        throw std::system_error(error, std::generic_category(), "pthread_create");
    }
    start.release();  // the thread owns it now
    return handle;
}

}  // namespace

Thread::Thread(std::size_t stack_bytes, std::function<void(std::stop_token)> work)
    : handle_(start_thread(stack_bytes, false, std::make_unique<Start>(Start{std::move(work), stop_.get_token()}))) {}

Thread::~Thread() {
    stop_.request_stop();
    pthread_join(handle_, nullptr);
}

void start_detached(std::size_t stack_bytes, std::function<void()> work) {
    start_thread(stack_bytes, true,
                 std::make_unique<Start>(Start{[work = std::move(work)](std::stop_token) { work(); }, {}}));
}

std::size_t stack_size_for_limit(rlim_t limit) noexcept {
    if (limit == RLIM_INFINITY || limit >= greatest_stack_bytes) return greatest_stack_bytes;
    return std::max(static_cast<std::size_t>(limit), least_stack_bytes);
}

std::size_t stack_size_for_process_limit() noexcept {
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) != 0) return least_stack_bytes;
    return stack_size_for_limit(limit.rlim_cur);
}

}  // namespace tallo
