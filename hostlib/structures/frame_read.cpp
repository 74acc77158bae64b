/*
 * Whole frames read at once: every pixel still goes through the frame's
 * parent callbacks, one call per pixel as the single-pixel reads make them,
 * but the frame is cut into bands of rows that the calling thread and the
 * host's reader threads share.  What is looked up per frame (parent,
 * callbacks, key, z and t) is looked up once.
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
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "az_db_private.h"

namespace {

/* One frame read: what every row needs, and the rows not yet taken. */
struct Frame_Job {
    Kelvra_Class *parent;
    void *key;
    float z, t;
    int width, height;
    int32_t *gli;
    uint8_t *tag;
    int band;                      /* rows taken at a time */
    int helpers_max;               /* reader threads this read may use */
    int helpers = 0;               /* reader threads working on it (pool lock) */
    std::atomic<int> row_next{0};
};

/* Rows [y0, y1) of the frame, grey levels then tags of each row: one
 * callback target at a time, and the row's outputs stay in cache. */
void Rows_Read(const Frame_Job &job, int y0, int y1)
{
    Pixel_Get_GLI_Fct get_gli = job.gli ? job.parent->Pixel_Get_GLI : nullptr;
    Pixel_Get_TAG_Fct get_tag = job.tag ? job.parent->Pixel_Get_TAG : nullptr;
    for (int y = y0; y < y1; y++) {
        float fy = (float)y;
        size_t row = (size_t)y * job.width;
        if (get_gli) {
            int32_t *out = job.gli + row;
            for (int x = 0; x < job.width; x++)
                out[x] = get_gli(job.parent, job.key, Vect((float)x, fy, job.z, job.t));
        }
        if (get_tag) {
            uint8_t *out = job.tag + row;
            for (int x = 0; x < job.width; x++)
                out[x] = (uint8_t)get_tag(job.parent, job.key, Vect((float)x, fy, job.z, job.t));
        }
    }
}

/* Takes bands of rows until none is left. */
void Job_Work(Frame_Job *job)
{
    for (;;) {
        int y0 = job->row_next.fetch_add(job->band, std::memory_order_relaxed);
        if (y0 >= job->height)
            return;
        int y1 = y0 + job->band < job->height ? y0 + job->band : job->height;
        Rows_Read(*job, y0, y1);
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
        done.wait(hold, [job] { return job->helpers == 0; });
    }

  private:
    std::mutex mutex;
    std::condition_variable wake, done;
    std::deque<Frame_Job *> jobs;
    int started = 0;

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
            Frame_Job *job = nullptr;
            wake.wait(hold, [&] { return (job = Job_Open()) != nullptr; });
            job->helpers++;
            hold.unlock();
            Job_Work(job);
            hold.lock();
            job->helpers--;
            if (job->helpers == 0)
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

int AzFrame_Read(AzFrame *frame, int width, int height, int32_t *gli, uint8_t *tag, int threads)
{
    if (width < 0 || height < 0)
        return 0;
    Kelvra_Class *parent = frame ? frame->Parent_Get_Pt() : nullptr;
    size_t n = (size_t)width * height;
    // What the single-pixel reads answer without a parent or a callback.
    if (gli && (!parent || !parent->Pixel_Get_GLI)) {
        std::fill(gli, gli + n, (int32_t)AZ_GLI_INVALID);
        gli = nullptr;
    }
    if (tag && (!parent || !parent->Pixel_Get_TAG)) {
        std::fill(tag, tag + n, (uint8_t)0);
        tag = nullptr;
    }
    if (!parent)
        return 0;
    if (!gli && !tag)
        return 1;
    Frame_Job job;
    job.parent = parent;
    job.key = frame->key;
    job.z = (float)frame->z;
    job.t = (float)frame->t;
    job.width = width;
    job.height = height;
    job.gli = gli;
    job.tag = tag;
    int readers = Reader_Pool::Size();
    job.helpers_max = threads <= 0 ? readers : (threads - 1 < readers ? threads - 1 : readers);
    // Small frames are not worth waking a thread for.
    if ((int64_t)width * height < 4096)
        job.helpers_max = 0;
    if (job.helpers_max == 0) {
        job.band = height;
        Job_Work(&job);
        return 1;
    }
    // Several bands per thread, so that a thread slowed by others still finishes with the rest.
    int bands = (job.helpers_max + 1) * 8;
    job.band = height / bands > 0 ? height / bands : 1;
    Pool().Run(&job);
    return 1;
}
