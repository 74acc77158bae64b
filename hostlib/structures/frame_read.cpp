/*
 * Whole frames read at once: every pixel still goes through the frame's
 * parent callbacks, one call per pixel as the single-pixel reads make them,
 * but the frame is cut into bands of rows that the calling thread and the
 * host's reader threads share.  What is looked up per frame (parent,
 * callbacks, key, z and t) is looked up once.
 *
 * Several frames of one size can be read together, row y of each before
 * row y + 1 of any: neighbouring frames of a re-sliced direction map the
 * same row to nearly the same pixels of the study, which the next frame
 * then finds in cache instead of memory.
 *
 * Reader threads: hardware threads - 1, started on the first read that asks
 * for more than one thread and kept for the life of the process.  A read
 * posts itself on a list; idle readers join it until its rows run out.  The
 * calling thread always works on its own rows too, so a read finishes even
 * when every reader is busy with other reads (reads from several threads at
 * once, as a batch export makes, simply share the readers).
 */
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "az_db_private.h"

namespace {

/* One frame of a read: what every row needs. */
struct Frame_Source {
    Kelvra_Class *parent;
    Pixel_Get_GLI_Fct get_gli;     /* null: no grey levels asked (or none to ask) */
    Pixel_Get_TAG_Fct get_tag;
    void *key;
    float z, t;
    int32_t *gli;
    uint8_t *tag;
};

/* One read: its frames, and the rows not yet taken. */
struct Frame_Job {
    std::vector<Frame_Source> sources;
    int width, height;
    int helpers_max;               /* reader threads this read may use */
    std::atomic<int> helpers{0};   /* reader threads working on it (changed under the pool lock) */
    std::atomic<int> row_next{0};
};

/* Rows [y0, y1) of every frame, grey levels then tags of each row: one
 * callback target at a time, and the row's outputs stay in cache. */
void Rows_Read(const Frame_Job &job, int y0, int y1)
{
    for (int y = y0; y < y1; y++) {
        float fy = (float)y;
        size_t row = (size_t)y * job.width;
        for (const Frame_Source &source : job.sources) {
            // Locals, not the fields: after a call through a pointer the fields must be
            // read again (the callee might have changed them), locals stay in registers.
            Kelvra_Class *parent = source.parent;
            void *key = source.key;
            float z = source.z, t = source.t;
            // One point whose x alone changes: built in registers, where a new
            // point each time would go through the stack.
            Vect point(0.0f, fy, z, t);
            int width = job.width;
            if (Pixel_Get_GLI_Fct get = source.get_gli) {
                int32_t *out = source.gli + row;
                for (int x = 0; x < width; x++) {
                    point.x = (float)x;
                    out[x] = get(parent, key, point);
                }
            }
            if (Pixel_Get_TAG_Fct get = source.get_tag) {
                uint8_t *out = source.tag + row;
                for (int x = 0; x < width; x++) {
                    point.x = (float)x;
                    out[x] = (uint8_t)get(parent, key, point);
                }
            }
        }
    }
}

/* Takes bands of rows until none is left.  A band is a share of the rows
 * still left, so bands shrink toward the end: the threads then finish
 * within a row or so of each other, where equal bands would leave one
 * thread reading a whole band alone. */
void Job_Work(Frame_Job *job)
{
    int y0 = job->row_next.load(std::memory_order_relaxed);
    for (;;) {
        if (y0 >= job->height)
            return;
        int band = (job->height - y0) / (2 * (job->helpers_max + 1));
        int y1 = y0 + (band > 0 ? band : 1);
        if (!job->row_next.compare_exchange_weak(y0, y1, std::memory_order_relaxed))
            continue;   // y0 now holds the rows another thread left
        Rows_Read(*job, y0, y1);
        y0 = job->row_next.load(std::memory_order_relaxed);
    }
}

class Reader_Pool {
  public:
    /* Reader threads there will be (0 on one hardware thread). */
    static int Size()
    {
        unsigned n = std::thread::hardware_concurrency();
        return n > 1 ? (int)n - 1 : 0;
    }

    /* Runs the job with up to job->helpers_max readers beside the caller. */
    void Run(Frame_Job *job)
    {
        {
            std::lock_guard<std::mutex> hold(mutex);
            Start();
            jobs.push_back(job);
            posted.fetch_add(1, std::memory_order_relaxed);
        }
        wake.notify_all();
        Job_Work(job);
        std::unique_lock<std::mutex> hold(mutex);
        for (auto it = jobs.begin(); it != jobs.end(); ++it)
            if (*it == job) {
                jobs.erase(it);
                break;
            }
        // Off the list: no reader joins any more; wait for those still in it.
        // Their last bands are short: a while of spinning mostly sees them
        // done without a sleep and a wake-up.
        hold.unlock();
        Spin_Until([job] { return job->helpers.load(std::memory_order_acquire) == 0; });
        hold.lock();
        done.wait(hold, [job] { return job->helpers.load(std::memory_order_acquire) == 0; });
    }

  private:
    std::mutex mutex;
    std::condition_variable wake, done;
    std::deque<Frame_Job *> jobs;
    std::atomic<unsigned> posted{0};   /* jobs ever posted: what an idle reader watches */
    int started = 0;

    /* Spins until ready() or about 50 microseconds have passed; whether
     * ready() held.  Reads follow one another closely in a batch: a
     * reader that spins through the gap joins the next read at once,
     * where one that sleeps wakes tens of microseconds late. */
    template <typename Ready> static bool Spin_Until(Ready ready)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        for (int i = 0;; i++) {
            if (ready())
                return true;
            if ((i & 63) == 63 && std::chrono::steady_clock::now() > until)
                return false;
            __builtin_ia32_pause();
        }
    }

    /* Under the lock. */
    void Start()
    {
        if (started)
            return;
        started = 1;
        for (int i = Size(); i > 0; i--)
            std::thread([this] { Reader(); }).detach();
    }

    /* A job with room for one more reader (under the lock), or null. */
    Frame_Job *Job_Open()
    {
        for (Frame_Job *job : jobs)
            if (job->helpers < job->helpers_max && job->row_next.load(std::memory_order_relaxed) < job->height)
                return job;
        return nullptr;
    }

    void Reader()
    {
        std::unique_lock<std::mutex> hold(mutex);
        for (;;) {
            Frame_Job *job = Job_Open();
            if (!job) {
                unsigned seen = posted.load(std::memory_order_relaxed);
                hold.unlock();
                bool fresh = Spin_Until([&] { return posted.load(std::memory_order_relaxed) != seen; });
                hold.lock();
                if (!fresh)
                    wake.wait(hold, [&] { return (job = Job_Open()) != nullptr; });
                else if (!(job = Job_Open()))
                    continue;
            }
            job->helpers.fetch_add(1, std::memory_order_relaxed);
            hold.unlock();
            Job_Work(job);
            hold.lock();
            // Release: the caller may see the count reach 0 without the lock.
            if (job->helpers.fetch_sub(1, std::memory_order_release) == 1)
                done.notify_all();
        }
    }
};

/* Never destroyed: reader threads wait on it until the process ends. */
Reader_Pool &Pool()
{
    static Reader_Pool *pool = new Reader_Pool;
    return *pool;
}

} // namespace

/* The frame's part of a read; 0 when the frame has no parent.  What the
 * single-pixel reads answer without a parent or a callback is written at
 * once, and that output is then not read. */
static int Source_Of(AzFrame *frame, size_t n, int32_t *gli, uint8_t *tag, Frame_Source *source)
{
    Kelvra_Class *parent = frame ? frame->Parent_Get_Pt() : nullptr;
    source->parent = parent;
    source->get_gli = gli && parent ? parent->Pixel_Get_GLI : nullptr;
    source->get_tag = tag && parent ? parent->Pixel_Get_TAG : nullptr;
    if (gli && !source->get_gli)
        std::fill(gli, gli + n, (int32_t)AZ_GLI_INVALID);
    if (tag && !source->get_tag)
        std::fill(tag, tag + n, (uint8_t)0);
    source->key = parent ? frame->key : nullptr;
    source->z = parent ? (float)frame->z : 0.0f;
    source->t = parent ? (float)frame->t : 0.0f;
    source->gli = gli;
    source->tag = tag;
    return parent != nullptr;
}

int AzFrame_Read_Many(AzFrame *const *frames, int count, int width, int height, int32_t *gli, uint8_t *tag,
                      int threads)
{
    if (width < 0 || height < 0 || count < 0)
        return 0;
    size_t n = (size_t)width * height;
    Frame_Job job;
    job.sources.reserve(count);
    int all = 1;
    for (int i = 0; i < count; i++) {
        Frame_Source source;
        all &= Source_Of(frames[i], n, gli ? gli + n * i : nullptr, tag ? tag + n * i : nullptr, &source);
        if (source.get_gli || source.get_tag)
            job.sources.push_back(source);
    }
    if (job.sources.empty())
        return all;
    job.width = width;
    job.height = height;
    int readers = Reader_Pool::Size();
    job.helpers_max = threads <= 0 ? readers : (threads - 1 < readers ? threads - 1 : readers);
    // Small reads are not worth waking a thread for.
    if ((int64_t)n * (int64_t)job.sources.size() < 4096)
        job.helpers_max = 0;
    if (job.helpers_max == 0) {
        Rows_Read(job, 0, height);
        return all;
    }
    Pool().Run(&job);
    return all;
}

int AzFrame_Read(AzFrame *frame, int width, int height, int32_t *gli, uint8_t *tag, int threads)
{
    return AzFrame_Read_Many(&frame, 1, width, height, gli, tag, threads);
}
