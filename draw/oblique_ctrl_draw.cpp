/*
 * The preview of the current direction: the slice image, the outline of
 * the source volume rotated into the direction (solid behind the slice,
 * dashed in front of it), the polygon where the slice cuts the volume and
 * six lines of geometry text.  OpenGL 1.1 immediate mode, drawn anew on
 * every call, on the panel's thread.
 */
#include <GL/gl.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "../oblique/oblique.h"
#include "../oblique/oblique_geometry.h"
#include "oblique_draw_fixed.h"

/* A segment that misses the plane gives this value or less. */
#define PLANE_MISS (-549755813888.0f)

/* Made on the first draw that can make it, then kept for good. */
static HFONT info_font = NULL;

/* ---- text measuring -------------------------------------------------- */

/* Takes the toolkit's lock and its shared device context for measuring;
 * Oblique_Draw_Info gives both back. */
void Oblique_Text_Begin(HWND window)
{
    if (!Critical_Flag) {
        InitializeCriticalSection(&Critical);
        Critical_Flag = 1;
    }
    EnterCriticalSection(&Critical);
    Y_DC = GetDC(window);
    Y_Window = window;
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    int cx = client.right - client.left;
    int cy = client.bottom - client.top;
    /* Pixels counted upward from the bottom row, as the toolkit draws. */
    SetMapMode(Y_DC, MM_ISOTROPIC);
    SetWindowExtEx(Y_DC, cx, cy, NULL);
    SetViewportExtEx(Y_DC, cx, -cy, NULL);
    SetViewportOrgEx(Y_DC, 0, cy - 1, NULL);
}

/* Selects a font into the shared device context (the stock system font
 * when none was made); the previous selection, to be restored. */
static HGDIOBJ Oblique_Font_Select(HFONT font)
{
    return SelectObject(Y_DC, font ? (HGDIOBJ)font : GetStockObject(SYSTEM_FONT));
}

int Oblique_Text_Height(HFONT font)
{
    HGDIOBJ previous = Oblique_Font_Select(font);
    TEXTMETRICA metrics;
    memset(&metrics, 0, sizeof(metrics));
    GetTextMetricsA(Y_DC, &metrics);
    SelectObject(Y_DC, previous);
    return metrics.tmHeight;
}

int Oblique_Text_Width(HFONT font, const char *text)
{
    HGDIOBJ previous = Oblique_Font_Select(font);
    SIZE extent = {0, 0};
    int length = (int)strlen(text);
    GetTextExtentPoint32A(Y_DC, text, length, &extent);
    TEXTMETRICA metrics;
    memset(&metrics, 0, sizeof(metrics));
    GetTextMetricsA(Y_DC, &metrics);
    SelectObject(Y_DC, previous);
    /* A tab is laid out three average characters wide. */
    int width = extent.cx;
    for (int i = 0; i < length; i++)
        if (text[i] == '\t')
            width += 3 * metrics.tmAveCharWidth;
    return width;
}

/* ---- info text ------------------------------------------------------- */

/* One line, right-aligned 3 pixels from the right edge, its lower edge at y. */
static void Oblique_Info_Line(int w, int y, const char *text)
{
    int tw = Oblique_Text_Width(info_font, text);
    OpenGL_Text_DrawRasterFont(text, 10, 255, 255, 255, (float)(w - tw - 3), (float)y, 0.0f);
}

int Oblique_Draw_Info(Boxs *box_image, Kelvra_Oblique *cls)
{
    if (!info_font)
        info_font = Y_Create_Font(box_image->window, "arial", "font", NULL, 10);
    Oblique_Text_Begin(box_image->window);
    int th = Oblique_Text_Height(info_font);
    int w = box_image->width;
    int h = box_image->height;
    /* 180/pi in single precision; the product stays single precision. */
    const float to_degrees = 57.295776f;
    char text[128];

    snprintf(text, sizeof(text), "Alpha: %.0f", (double)(cls->alpha * to_degrees));
    Oblique_Info_Line(w, th + 3, text);
    snprintf(text, sizeof(text), "Beta: %.0f", (double)(cls->beta * to_degrees));
    Oblique_Info_Line(w, 2 * th + 3, text);
    snprintf(text, sizeof(text), "Theta: %.0f", (double)(cls->theta * to_degrees));
    Oblique_Info_Line(w, 3 * th + 3, text);
    snprintf(text, sizeof(text), "%d slices", cls->dim.z);
    Oblique_Info_Line(w, h - 2 * th - 3, text);
    snprintf(text, sizeof(text), "%d x %d pix", cls->dim.x, cls->dim.y);
    Oblique_Info_Line(w, h - th - 3, text);
    snprintf(text, sizeof(text), "%.2f x %.2f x %.2f mm", (double)cls->voxel.x, (double)cls->voxel.y,
             (double)cls->voxel.z);
    Oblique_Info_Line(w, h - 3, text);

    ReleaseDC(Y_Window, Y_DC);
    Y_DC = NULL;
    Y_Window = NULL;
    LeaveCriticalSection(&Critical);
    return 1;
}

/* ---- outline and cutting polygon ------------------------------------ */

/* Signs of the corners C0..C7: the face z = -hz, then the face z = +hz. */
static const float corner_sign[8][3] = {
    {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1}, {-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1},
};

/* The twelve edges: both faces' loops, then the four joining edges. */
static const int box_edge[12][2] = {
    {0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6}, {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7},
};

void Oblique_Draw_Box(Matrix_4x4 m, float hx, float hy, float hz)
{
    Vect corner[8];
    for (int i = 0; i < 8; i++) {
        corner[i].set(corner_sign[i][0] * hx, corner_sign[i][1] * hy, corner_sign[i][2] * hz, 0.0f);
        corner[i] *= m;
    }
    glColor3f(1.0f, 1.0f, 1.0f);
    glLineWidth(1.0f);
    glBegin(GL_LINE_LOOP);
    for (int i = 0; i < 4; i++)
        glVertex3f(corner[i].x, corner[i].y, corner[i].z);
    glEnd();
    glBegin(GL_LINE_LOOP);
    for (int i = 4; i < 8; i++)
        glVertex3f(corner[i].x, corner[i].y, corner[i].z);
    glEnd();
    glBegin(GL_LINES);
    for (int i = 0; i < 4; i++) {
        glVertex3f(corner[i].x, corner[i].y, corner[i].z);
        glVertex3f(corner[i + 4].x, corner[i + 4].y, corner[i + 4].z);
    }
    glEnd();
}

void Oblique_Draw_Plane(Matrix_4x4 m, float hx, float hy, float hz, float d)
{
    Point_3D corner[8];
    for (int i = 0; i < 8; i++) {
        corner[i] = Point_3D(corner_sign[i][0] * hx, corner_sign[i][1] * hy, corner_sign[i][2] * hz);
        corner[i] *= m;
    }
    /* The plane z = -d.  A plane through a corner lists that corner once
     * per edge meeting it: a zero-length piece of the loop. */
    Point_3D normal(0.0f, 0.0f, 1.0f);
    Point_3D point[12];
    int n = 0;
    for (int e = 0; e < 12; e++) {
        float offset = d;
        Point_3D meet;
        if (GEMS_3D_Intersect_Segment_Plane(&corner[box_edge[e][0]], &corner[box_edge[e][1]], &normal, &offset,
                                            &meet) > PLANE_MISS)
            point[n++] = meet;
    }

    float angle[12];
    int index[12];
    float cx = 0.0f, cy = 0.0f;
    for (int i = 0; i < n; i++) {
        cx += point[i].x;
        cy += point[i].y;
    }
    if (n > 0) {
        cx /= (float)n;
        cy /= (float)n;
    }
    for (int i = 0; i < n; i++) {
        index[i] = i;
        angle[i] = atan2f(point[i].y - cy, point[i].x - cx);
    }
    /* Around the centre by angle; equal angles keep their order. */
    for (int i = 0; i < n - 1; i++) {
        for (int j = i + 1; j < n; j++) {
            if (angle[i] > angle[j]) {
                float a = angle[i];
                angle[i] = angle[j];
                angle[j] = a;
                int t = index[i];
                index[i] = index[j];
                index[j] = t;
            }
        }
    }

    Oblique_GL_Check(DRAW_SOURCE, DRAW_LINE_PLANE_BEGIN, "glBegin/End");
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glColor3f(1.0f, 1.0f, 0.0f);
    glLineWidth(2.0f);
    glBegin(GL_LINE_LOOP);
    for (int k = 0; k < n; k++)
        glVertex3f(point[index[k]].x, point[index[k]].y, point[index[k]].z);
    glEnd();
    Oblique_GL_Check(DRAW_SOURCE, DRAW_LINE_PLANE_END, "glBegin/End");
    glLineWidth(1.0f);
}

/* ---- one preview ----------------------------------------------------- */

/* Clears to the colour the host gives pixels without data. */
static void Oblique_Background_Clear(void)
{
    uint32_t colour = (uint32_t)Fct_Variable_Value("$COLORMAP_GLI_INVALID", NULL, NULL, NULL);
    glClearColor((float)(colour & 0xff) / 255.0f, (float)((colour >> 8) & 0xff) / 255.0f,
                 (float)((colour >> 16) & 0xff) / 255.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    Oblique_GL_Check(DRAW_SOURCE, DRAW_LINE_CLEAR, "Oblique_Image: glClear");
}

/* The outline's projection: centred on the window, y downward, keeping
 * the eye depths -far <= z <= -near. */
static void Oblique_Outline_Projection(int w, int h, float near_z, float far_z)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-w / 2.0, w / 2.0, h / 2.0, -h / 2.0, near_z, far_z);
}

void Oblique_Image(HWND image_window, Boxs *box_image, Kelvra_Oblique *cls)
{
    if (!OpenGL_Context_On(image_window, 4)) {
        Error_Fct(hwnd, 11, OBLIQUE_MSG_WHERE, DRAW_SOURCE, DRAW_LINE_CONTEXT);
        Error_Fct(hwnd, 2, DRAW_MSG_CONTEXT);
        return;
    }
    short w = box_image->width;
    short h = box_image->height;

    glViewport(0, 0, w, h);
    Oblique_GL_Check(DRAW_SOURCE, DRAW_LINE_VIEWPORT, "glViewport");
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, w, h, 0.0, -0.5, 0.5);
    Oblique_GL_Check(DRAW_SOURCE, DRAW_LINE_PROJECTION, "Oblique_Image: glMatrix");
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    Oblique_GL_Check(DRAW_SOURCE, DRAW_LINE_MODELVIEW, "Oblique_Image: glMatrix");
    Oblique_Background_Clear();

    Matrix_4x4 m = Oblique_Rotation(cls->alpha, cls->beta, cls->theta);
    float hx = 0.0f, hy = 0.0f, hz = 0.0f;
    Kelvra_Class *study = cls->Parent_Get_Pt();
    Kelvra_Oblique *org = study ? (Kelvra_Oblique *)study->Child_Get_Pt(0) : NULL;
    if (org) {
        hx = (float)org->dim.x * 0.5f * org->voxel.x;
        hy = (float)org->dim.y * 0.5f * org->voxel.y;
        hz = (float)org->dim.z * 0.5f * org->voxel.z;
    }
    int diag = (int)(2.0f * sqrtf(hx * hx + hy * hy + hz * hz));
    /* Below one millimetre (or without a source volume) there is no scale
     * to draw at: the preview then shows the background and the text. */
    int scaled = diag > 0;
    float s = scaled ? (float)(w < h ? w : h) / (float)diag : 0.0f;

    if (scaled) {
        /* Centred in the top left square of side min(w, h), first row on
         * top.  The position is reached from the window's top left corner
         * (window coordinates run upward): an image a fraction wider than
         * the truncated diagonal starts left of the window, where a raster
         * position of its own would be invalid and nothing would be drawn. */
        float x = ((float)diag - (float)cls->dim.x * cls->voxel.x) * 0.5f * s;
        float y = ((float)diag - (float)cls->dim.y * cls->voxel.y) * 0.5f * s;
        glRasterPos2f(0.0f, 0.0f);
        glBitmap(0, 0, 0.0f, 0.0f, x, -y, NULL);
        Oblique_Pixels_Draw(s * cls->voxel.x, s * cls->voxel.y, (short)cls->dim.x, (short)cls->dim.y);
    }
    Oblique_Draw_Info(box_image, cls);

    if (scaled) {
        float d = (((float)cls->dim.z - 1.0f) * 0.5f - cls->slice_cur) * cls->voxel.z;
        /* Behind the slice plane: -diag <= z <= -d, drawn solid. */
        Oblique_Outline_Projection(w, h, d, (float)diag);
        Oblique_GL_Check(DRAW_SOURCE, DRAW_LINE_BEHIND, "glMatrix");
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glScalef(s, s, 1.0f);
        Oblique_Draw_Box(m, hx, hy, hz);
        Oblique_Draw_Plane(m, hx, hy, hz, d);

        /* In front of it, dashed; the 0.001 mm gap keeps the two passes
         * from drawing one piece of an edge twice. */
        Oblique_Outline_Projection(w, h, (float)-diag, d - 0.001f);
        glMatrixMode(GL_MODELVIEW);
        Oblique_GL_Check(DRAW_SOURCE, DRAW_LINE_IN_FRONT, "glMatrix");
        glEnable(GL_LINE_STIPPLE);
        glLineStipple(1, 0x5555);
        Oblique_Draw_Box(m, hx, hy, hz);
        glDisable(GL_LINE_STIPPLE);
    }

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    Oblique_GL_Check(DRAW_SOURCE, DRAW_LINE_RESTORE, "Oblique_Image: glMatrix");
    OpenGL_Context_Off(image_window, 4);
}
