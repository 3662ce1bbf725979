#include "tools/folder_hasher.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "net/file_digest.h"

namespace {

const size_t kReadBlock = 1 << 20;

struct MdCtxFree {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};

struct Shared {
    const std::vector<std::string>* paths = nullptr;
    std::vector<size_t> order;  // largest files first, so the threads finish together
    std::vector<std::string>* digests = nullptr;
    const EVP_MD* sha256 = nullptr;
    std::atomic<size_t> next{0};
    std::atomic<uint64_t> filesDone{0};
    std::atomic<uint64_t> bytesDone{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;  // guards error, running
    std::condition_variable finished;
    std::string error;
    unsigned running = 0;
};

bool HashOne(Shared& shared,
             EVP_MD_CTX* ctx,
             std::vector<uint8_t>& block,
             const std::string& path,
             std::string& digest,
             std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    bool ok = EVP_DigestInit_ex(ctx, shared.sha256, nullptr) == 1;
    while (ok) {
        const ssize_t n = read(fd, block.data(), block.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = path + ": cannot read: " + std::strerror(errno);
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        ok = EVP_DigestUpdate(ctx, block.data(), static_cast<size_t>(n)) == 1;
        shared.bytesDone += static_cast<uint64_t>(n);
    }
    close(fd);
    uint8_t raw[32];
    unsigned int length = 0;
    if (ok && (EVP_DigestFinal_ex(ctx, raw, &length) != 1 || length != 32)) {
        error = path + ": SHA-256 failed";
        ok = false;
    }
    if (ok) {
        digest = HexLower(raw);
    }
    return ok;
}

void Worker(Shared& shared) {
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    std::vector<uint8_t> block(kReadBlock);
    std::string error;
    while (!shared.failed) {
        const size_t k = shared.next++;
        if (k >= shared.order.size()) {
            break;
        }
        const size_t i = shared.order[k];
        if (!ctx || !HashOne(shared, ctx.get(), block, (*shared.paths)[i], (*shared.digests)[i], error)) {
            std::lock_guard<std::mutex> lock(shared.mutex);
            if (!shared.failed) {
                shared.error = ctx ? error : "out of memory";
                shared.failed = true;
            }
            break;
        }
        ++shared.filesDone;
    }
    std::lock_guard<std::mutex> lock(shared.mutex);
    --shared.running;
    shared.finished.notify_all();
}

}  // namespace

bool HashFiles(const std::vector<std::string>& paths,
               std::vector<std::string>& digests,
               const HashProgressFn& progress,
               std::string& error,
               unsigned threads) {
    Shared shared;
    shared.paths = &paths;
    shared.digests = &digests;
    digests.assign(paths.size(), std::string());
    std::unique_ptr<EVP_MD, void (*)(EVP_MD*)> md(EVP_MD_fetch(nullptr, "SHA256", nullptr), EVP_MD_free);
    if (!md) {
        error = "OpenSSL has no SHA-256";
        return false;
    }
    shared.sha256 = md.get();

    // Sizes only order the work; a file that cannot be measured fails later when read.
    std::vector<off_t> sizes(paths.size(), 0);
    for (size_t i = 0; i < paths.size(); ++i) {
        struct stat st;
        sizes[i] = stat(paths[i].c_str(), &st) == 0 ? st.st_size : 0;
        shared.order.push_back(i);
    }
    std::stable_sort(shared.order.begin(), shared.order.end(),
                     [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });

    if (threads == 0) {
        threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    }
    threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(paths.size(), 1)));
    shared.running = threads;
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back(Worker, std::ref(shared));
    }
    {
        std::unique_lock<std::mutex> lock(shared.mutex);
        while (!shared.finished.wait_for(lock, std::chrono::milliseconds(250),
                                         [&] { return shared.running == 0; })) {
            if (progress) {
                lock.unlock();
                progress(shared.filesDone, shared.bytesDone);
                lock.lock();
            }
        }
    }
    for (std::thread& t : pool) {
        t.join();
    }
    if (shared.failed) {
        error = shared.error;
        return false;
    }
    if (progress) {
        progress(shared.filesDone, shared.bytesDone);
    }
    return true;
}
