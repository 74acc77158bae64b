/*
 * Apply: makes the host's database hold the frames of the directions the
 * user switched on.  Ctrl_Apply removes the frames of directions switched
 * off and schedules the out-of-date ones; one detached worker thread
 * deletes and re-inserts their frames through the next level of the
 * host's insert chain.  No pixel is computed here: the class's callbacks
 * answer every pixel on demand.
 */
#include <errno.h>
#include <string.h>

#include <new>

#include "../oblique/oblique_geometry.h"
#include "oblique_apply.h"
#include "oblique_apply_fixed.h"

#define APPLY_ITERATOR 4
#define THREAD_ITERATOR 5

/* Flag of group 16 that the host sets on a class shown in a window. */
#define FLAG_SHOWN 0x100

Apply_Job Oblique_Apply_Job;

static unsigned char *Apply_Lock_Byte(void)
{
    return (unsigned char *)Fct_Variable_Get("$INTERFACE_LOCK_FOCUS", NULL, NULL, NULL, 0);
}

static void Apply_Lock_Focus(unsigned char value)
{
    unsigned char *lock = Apply_Lock_Byte();
    /* The interface thread reads the byte while the worker runs. */
    if (lock)
        __atomic_store_n(lock, value, __ATOMIC_RELEASE);
}

static Kelvra_Class **Apply_Frame_Cur(void)
{
    return (Kelvra_Class **)Fct_Variable_Value("$FRAME_CUR", NULL, NULL, NULL);
}

/* Missing frames, or frames built with another transform. */
static int Apply_Out_Of_Date(Kelvra_Oblique *cls)
{
    if (cls->Child_Get_Nb() != cls->dim.z)
        return 1;
    return cls->matrix_pt && !(*cls->matrix_pt == cls->matrix);
}

static void Apply_Schedule(Apply_Job *job, int slot, Kelvra_Oblique *cls)
{
    cls->enabled = 1;
    if (!Apply_Out_Of_Date(cls))
        return;
    job->classes[slot] = cls;
    job->frames_nb += cls->dim.z;
}

/* No window may keep showing a class whose frames go away. */
static void Apply_Forget_Current(Kelvra_Oblique *cls)
{
    Kelvra_Class **frame_cur = Apply_Frame_Cur();
    if (!frame_cur || !Iterator_Init(APPLY_ITERATOR, APPLY_TAG, NULL))
        return;
    while (Kelvra_Window *window = Iterator_Window(APPLY_ITERATOR, 0))
        if (cls->Flag_Get_Bit(16, window, FLAG_SHOWN))
            frame_cur[window->Class_B_Get()] = NULL;
    Iterator_End(APPLY_ITERATOR);
}

static void Apply_Remove(Kelvra_Oblique *cls)
{
    cls->enabled = 0;
    Apply_Forget_Current(cls);
    if (cls->Child_Get_Nb()) {
        cls->Child_Delete();
        Fct_Update(0x200000, NULL, NULL, NULL);
    }
}

/* Nothing to create: give back what step 1 took. */
static int Apply_Finish_Empty(Apply_Job *job)
{
    Fct_Update(0x200000, NULL, NULL, NULL);
    Fct_Update(0x10001, NULL, NULL, NULL);
    Fct_Redraw(0xFFFFFFFF3FFFFFFFull, NULL, NULL, NULL);
    Reset_Curs_Wait(NULL);
    Progress_Close(job->progress);
    Apply_Lock_Focus(0);
    return 1;
}

static int Apply_Start_Worker(Apply_Job *job)
{
    uintptr_t thread = _beginthreadex(NULL, 0, Oblique_Thread, job, 0, NULL);
    if (thread) {
        /* Nobody waits for the worker: it ends itself. */
        CloseHandle((HANDLE)thread);
        return 1;
    }
    int error = errno;
    unsigned long dos_error = _doserrno;
    Error_Fct(hwnd, 2, "\xF1\x05WARNING:\x02 Unable to start RUD Azozude thread!");
    Error_Fct(hwnd, 2, "\xF1\x02\t Errno = %d, DOS Errno=%d", error, (int)dos_error);
    Reset_Curs_Wait(NULL);
    Progress_Close(job->progress);
    Apply_Lock_Focus(0);
    return 0;
}

int Ctrl_Apply(int on_0, Kelvra_Oblique *cls_0, int on_1, Kelvra_Oblique *cls_1)
{
    Apply_Job *job = &Oblique_Apply_Job;
    memset(job, 0, sizeof(*job));
    Set_Curs_Wait(NULL);
    Apply_Lock_Focus(1);
    if (!(Script_Flag_Get() & 0x20))
        job->progress = Progress_Create(hwnd, APPLY_PROGRESS_TITLE, APPLY_PROGRESS_SUBTITLE);
    job->frames_nb = 0;

    int on[2] = {on_0, on_1};
    Kelvra_Oblique *cls[2] = {cls_0, cls_1};
    for (int i = 0; i < 2; i++)
        if (on[i] && cls[i])
            Apply_Schedule(job, i, cls[i]);
    Error_Fct(hwnd, 11, "%d created frames", (int)job->frames_nb);
    for (int i = 0; i < 2; i++)
        if (!on[i] && cls[i])
            Apply_Remove(cls[i]);

    if (job->frames_nb == 0)
        return Apply_Finish_Empty(job);
    Error_Fct(hwnd, 6, "Creating \x01%d\x02 new frames", (int)job->frames_nb);
    Progress_Write(job->progress, "Creating \x01%d\x02 new frames", (int)job->frames_nb);
    return Apply_Start_Worker(job);
}

/* ---- the worker ----------------------------------------------------------- */

/* Raises the class's lock count unless another task holds the class. */
static int Thread_Lock(Apply_Job *job, Kelvra_Oblique *cls)
{
    Access_Init(THREAD_TAG);
    if (cls->Lock_Get()) {
        Access_End(THREAD_TAG);
        Error_Fct(hwnd, 6, THREAD_MSG_LOCKED);
        Error_Fct(hwnd, 6, THREAD_MSG_SKIPPING, cls->Name_Get());
        Progress_Write(job->progress, THREAD_PROGRESS_LOCKED);
        Progress_Write(job->progress, THREAD_PROGRESS_SKIPPING, cls->Name_Get());
        return 0;
    }
    cls->Lock_Set(1);
    Access_End(THREAD_TAG);
    return 1;
}

static void Thread_Unlock(Kelvra_Oblique *cls)
{
    Access_Init(THREAD_TAG);
    cls->Lock_Set(-1);
    Access_End(THREAD_TAG);
}

/* The Original direction shows the study's frames as they are; a
 * resampled direction carries its transform and the inverse.  0 when a
 * matrix cannot be allocated: the class then keeps its transform and its
 * frames. */
static int Thread_Set_Matrix(Kelvra_Oblique *cls)
{
    if (cls->is_original) {
        delete cls->matrix_pt;
        delete cls->matrix_inv_pt;
        cls->matrix_pt = NULL;
        cls->matrix_inv_pt = NULL;
        return 1;
    }
    Matrix_4x4 *matrix = cls->matrix_pt ? cls->matrix_pt : new (std::nothrow) Matrix_4x4;
    if (!matrix) {
        Error_Fct(hwnd, 1, OBLIQUE_MSG_NEW, THREAD_LINE_MATRIX, THREAD_SOURCE, "oblique->matrix_pt", 1,
                  (int)sizeof(Matrix_4x4));
        return 0;
    }
    Matrix_4x4 *inverse = cls->matrix_inv_pt ? cls->matrix_inv_pt : new (std::nothrow) Matrix_4x4;
    if (!inverse) {
        if (matrix != cls->matrix_pt)
            delete matrix;
        Error_Fct(hwnd, 1, OBLIQUE_MSG_NEW, THREAD_LINE_MATRIX_INV, THREAD_SOURCE, "oblique->matrix_inv_pt", 1,
                  (int)sizeof(Matrix_4x4));
        return 0;
    }
    *matrix = cls->matrix;
    *inverse = !cls->matrix;
    cls->matrix_pt = matrix;
    cls->matrix_inv_pt = inverse;
    return 1;
}

static Kelvra_Insert_Fct Thread_Insert_Fct(Kelvra_Oblique *cls)
{
    Kelvra_Insert_Fct *tree = (Kelvra_Insert_Fct *)Fct_Variable_Value("$DB_TREE_PT", NULL, NULL, NULL);
    return tree ? tree[cls->tree_level + 1] : NULL;
}

/* One progress step per frame; stops before the next frame once the user
 * has asked to stop.  Returns 1 when the loop may go on. */
static int Thread_Frame_Step(Apply_Job *job)
{
    if (Progress_Cancelled(job->progress))
        return 0;
    Progress_Step(job->progress, 1);
    return 1;
}

/* The study's own frames again, in location order. */
static void Thread_Insert_Original(Apply_Job *job, Kelvra_Oblique *cls, Kelvra_Insert_Fct insert)
{
    unsigned short level = cls->tree_level + 1;
    Progress_Write(job->progress, "Creating %d frames for \x01%s", (int)cls->real_files_nb, THREAD_LABEL_ORIGINAL);
    /* The set-up makes dim z equal to the recorded count; never read past it. */
    int count = cls->dim.z < cls->real_files_nb ? cls->dim.z : cls->real_files_nb;
    for (int k = 0; k < count && Thread_Frame_Step(job); k++)
        if (insert)
            insert(cls->real_files_pt[k], cls->real_files_bunch[k], cls->real_files_slice[k], cls, level);
    cls->Sort(1);
}

/* Slices of the direction's one file record. */
static void Thread_Insert_Resampled(Apply_Job *job, int slot, Kelvra_Oblique *cls, Kelvra_Insert_Fct insert)
{
    unsigned short level = cls->tree_level + 1;
    Progress_Write(job->progress, "Creating %d frames for \x01%s", cls->dim.z,
                   slot == 0 ? "dir: Original" : "dir: Oblique");
    /* A direction whose set-up failed has no header to describe its frames. */
    if (!cls->dir_image || !cls->dir_file) {
        Error_Fct(hwnd, 2, "\xF1\x05WARNING:\x02 no image header, no frames for: \x01%s", cls->Name_Get());
        Progress_Write(job->progress, "\xF1\x05WARNING:\xF0\x02 no image header: \x01%s", cls->Name_Get());
        return;
    }
    // The direction's single header describes the resampled volume.
    Oblique_Header_Shape(cls->dir_image, cls->dim, cls->axis_x, cls->axis_y, cls->axis_z, *cls->matrix_pt);
    for (int k = 0; k < cls->dim.z && Thread_Frame_Step(job); k++)
        if (insert)
            insert(cls->dir_file, 0, k, cls, level);
}

/* Windows already showing the class now show its new frames. */
static void Thread_Show_Again(Kelvra_Oblique *cls)
{
    if (!Iterator_Init(THREAD_ITERATOR, THREAD_TAG, NULL))
        return;
    while (Kelvra_Window *window = Iterator_Window(THREAD_ITERATOR, 0))
        Database_Current(window, cls);
    Iterator_End(THREAD_ITERATOR);
}

static void Thread_Build(Apply_Job *job, int slot, Kelvra_Oblique *cls)
{
    if (!Thread_Lock(job, cls))
        return;
    Sleep(THREAD_PAUSE_MS);
    int shown = cls->Flag_Get_Bit(16, NULL, FLAG_SHOWN);
    if (!Thread_Set_Matrix(cls)) {
        Thread_Unlock(cls);
        return;
    }
    if (cls->Child_Get_Nb())
        cls->Child_Delete();
    Kelvra_Insert_Fct insert = Thread_Insert_Fct(cls);
    if (!cls->matrix_pt)
        Thread_Insert_Original(job, cls, insert);
    else
        Thread_Insert_Resampled(job, slot, cls, insert);
    if (shown)
        Thread_Show_Again(cls);
    Thread_Unlock(cls);
}

/* Every window gets something to show: views without a class of their
 * own are flagged, views with a current object are told to refresh it,
 * and empty views show the new class. */
static void Thread_Current(Kelvra_Oblique *cls)
{
    if (!Iterator_Init(THREAD_ITERATOR, THREAD_TAG, NULL))
        return;
    while (Kelvra_Window *window = Iterator_Window(THREAD_ITERATOR, 0)) {
        if (window->Class_A_Get() == 0) {
            cls->Flag_Set_On(48, window, 0x200);
            continue;
        }
        Kelvra_Class **frame_cur = Apply_Frame_Cur();
        if (!frame_cur)
            continue;
        Kelvra_Class *current = frame_cur[window->Class_B_Get()];
        if (current)
            current->Flag_Set_On(80, window, 0x200);
        else
            Database_Current(window, cls);
    }
    Iterator_End(THREAD_ITERATOR);
}

unsigned __stdcall Oblique_Thread(void *arg)
{
    Apply_Job *job = (Apply_Job *)arg;
    Error_Fct(hwnd, 13, "in Oblique_Thread()");
    Fct_Redraw(0x40000000, NULL, NULL, NULL);
    Fct_Update(0x4000000000000000ull, NULL, NULL, NULL);
    Progress_Set_Max(job->progress, (int)job->frames_nb);
    Database_Geom_Cleanup();
    for (int slot = 0; slot < 2; slot++)
        if (job->classes[slot])
            Thread_Build(job, slot, job->classes[slot]);

    Fct_Update(0x8000000000000000ull, NULL, NULL, NULL);
    Progress_Write(job->progress, "New frames setup...");
    for (int slot = 0; slot < 2; slot++)
        if (job->classes[slot])
            Thread_Current(job->classes[slot]);

    /* Last read of the job: after the lock byte is cleared a new apply may refill it. */
    Progress_Close(job->progress);
    Apply_Lock_Focus(0);
    Fct_Update(0x200000, NULL, NULL, NULL);
    Fct_Update(0x10001, NULL, NULL, NULL);
    Fct_Redraw(0x80000000, NULL, NULL, NULL);
    Fct_Redraw(0xFFFFFFFF3FFFFFFFull, NULL, NULL, NULL);
    Reset_Curs_Wait(NULL);
    _endthreadex(0);
    return 0;
}
