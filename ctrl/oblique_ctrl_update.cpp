/*
 * Ctrl_Update, the panel's single state-update routine, and the module's
 * update hook.  Each flag asks for one step; the steps run in a fixed
 * order and earlier ones raise the flags of later ones.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../oblique/oblique_geometry.h"
#include "oblique_ctrl.h"
#include "oblique_ctrl_fixed.h"

#define CTRL_ITERATOR_SLOT 2

/* Frames exist for the direction of this class. */
static short Ctrl_Has_Frames(const Kelvra_Oblique *cls)
{
    return cls && cls->Child_Get_Nb() > 0 ? 1 : 0;
}

/* The slice the slider stands on, kept within the class's slices. */
static int Ctrl_Slice_Get(const Kelvra_Oblique *cur)
{
    int k = (int)slider_frame.value;
    if (k <= 0)
        k = 0;
    else if (k > cur->dim.z - 1)
        k = cur->dim.z - 1;
    return k;
}

/* Sets up both directions of every study of every mode, panel open or not. */
static void Ctrl_Refresh_Pass(void)
{
    for (unsigned int mode = 0; mode < 4; mode++) {
        if (!Iterator_Init(CTRL_ITERATOR_SLOT, CTRL_ITERATOR_TAG, nullptr))
            continue;
        Kelvra_Class *cls;
        while ((cls = Iterator_Class(CTRL_ITERATOR_SLOT, 0xD0000u + mode, nullptr, 0)) != nullptr) {
            Kelvra_Class *study = cls->Parent_Get_Pt();
            Kelvra_Class *other = study ? study->Child_Get_Pt(1) : nullptr;
            Oblique_Setup(static_cast<Kelvra_Oblique *>(cls), static_cast<Kelvra_Oblique *>(other));
        }
        Iterator_End(CTRL_ITERATOR_SLOT);
    }
}

/* Collects the pairs of the panel's mode into Instance_Pt; 0 when the table
 * cannot grow (the table is then left empty). */
static int Ctrl_Table_Build(void)
{
    Instance_Nb = 0;
    free(Instance_Pt);
    Instance_Pt = nullptr;
    if (!Iterator_Init(CTRL_ITERATOR_SLOT, CTRL_ITERATOR_TAG, nullptr))
        return 1;
    Kelvra_Class *org;
    while ((org = Iterator_Class(CTRL_ITERATOR_SLOT, 0xD0000u + Ctrl_Mode, nullptr, 0)) != nullptr) {
        // One spare entry beyond the pair.
        Kelvra_Oblique **grown =
            (Kelvra_Oblique **)realloc(Instance_Pt, (size_t)(Instance_Nb + 3) * sizeof(Kelvra_Oblique *));
        if (!grown) {
            Error_Fct(hwnd, 1, OBLIQUE_MSG_REALLOC, CTRL_LINE_INSTANCE_PT, CTRL_SOURCE, "Instance_Pt", Instance_Nb + 3,
                      (int)sizeof(Kelvra_Oblique *));
            Iterator_End(CTRL_ITERATOR_SLOT);
            free(Instance_Pt);
            Instance_Pt = nullptr;
            Instance_Nb = 0;
            return 0;
        }
        Instance_Pt = grown;
        Kelvra_Class *study = org->Parent_Get_Pt();
        Instance_Pt[Instance_Nb] = static_cast<Kelvra_Oblique *>(org);
        Instance_Pt[Instance_Nb + 1] = static_cast<Kelvra_Oblique *>(study ? study->Child_Get_Pt(1) : nullptr);
        Instance_Nb += 2;
    }
    Iterator_End(CTRL_ITERATOR_SLOT);
    return 1;
}

/* The list shows each study by its name: the Original class's name less
 * the 15 characters of " (dir:Original)". */
static void Ctrl_List_Fill(void)
{
    select_instance.Grow(Instance_Nb / 2, 0);
    for (int i = 0; i < Instance_Nb / 2 && i < select_instance.entries_nb; i++) {
        char label[256];
        const char *name = Instance_Pt[2 * i]->Name_Get();
        int keep = (int)strlen(name) - 15;
        snprintf(label, sizeof(label), "%.*s", keep > 0 ? keep : 0, name);
        select_instance.entries[i].Set_Name(label);
    }
    select_instance.Init(nullptr);
    select_instance.Draw();
}

static int Ctrl_List_Rebuild(void)
{
    if (!Ctrl_Table_Build())
        return 0;
    Ctrl_List_Fill();
    Instance_Cur = 2 * select_instance.current;
    for (int b = 0; b < 2; b++)
        button_dir[b].lamp = Ctrl_Pair_Valid() ? Ctrl_Has_Frames(Instance_Pt[Instance_Cur + b]) : 0;
    return 1;
}

/* The slider's range follows the current class's slice count; its value
 * is kept on a slice. */
static void Ctrl_Slider_Range(const Kelvra_Oblique *cur)
{
    slider_frame.maximum = (float)cur->dim.z - 0.001f;
    slider_frame.value = (float)Ctrl_Slice_Get(cur);
    slider_frame.Init(nullptr);
}

static void Ctrl_Slider_Off(void)
{
    slider_frame.value = 0.0f;
    slider_frame.style = CTRL_STYLE_DISABLED;
    slider_frame.Clear();
}

static void Ctrl_Slider_Refresh(const Kelvra_Oblique *cur)
{
    Ctrl_Slider_Range(cur);
    if (cur->dim.z <= 1)
        Ctrl_Slider_Off();
    else
        slider_frame.style = CTRL_STYLE_SLIDER_ON;
    slider_frame.Draw();
}

/* The rotation valuators only mean something for the Oblique direction. */
static void Ctrl_Draw_Step(void)
{
    Valuators *all[4] = {&valuator_horiz[0], &valuator_horiz[1], &valuator_vert[0], &valuator_vert[1]};
    for (Valuators *v : all)
        v->style = Dir_Cur == 0 ? (v->style | CTRL_STYLE_DISABLED) : (v->style & ~CTRL_STYLE_DISABLED);
    Kelvra_Oblique *cur = Ctrl_Current();
    if (cur) {
        if (cur->dim.z > 1) {
            slider_frame.style = CTRL_STYLE_SLIDER_ON;
            Ctrl_Slider_Range(cur);
        } else {
            Ctrl_Slider_Off();
        }
    }
    slider_frame.Draw();
    if (Ctrl_Pair_Valid()) {
        for (int b = 0; b < 2; b++)
            if (Instance_Pt[Instance_Cur + b])
                Instance_Pt[Instance_Cur + b]->Flag_Set_Off(0x20, nullptr, CTRL_FLAG_MASK);
    }
}

static void Ctrl_Dir_Buttons(void)
{
    const Kelvra_Oblique *org = Instance_Pt[Instance_Cur];
    for (int b = 0; b < 2; b++) {
        if (org && org->group_valid > 0) {
            button_dir[b].style = CTRL_STYLE_DIR;
            button_dir[b].selected = (short)(b == Dir_Cur);
            button_dir[b].lamp = Ctrl_Has_Frames(Instance_Pt[Instance_Cur + b]);
        } else {
            // The study is no 3D group (or not yet tested): no direction to choose.
            button_dir[b].style = CTRL_STYLE_DISABLED;
            button_dir[b].Clear(box_main.color);
        }
        button_dir[b].Draw();
    }
}

/* 1 when it ran (there is a current class). */
static int Ctrl_Select_Step(void)
{
    Kelvra_Oblique *cur = Ctrl_Current();
    if (!cur)
        return 0;
    Ctrl_Slider_Refresh(cur);
    cur->Flag_Set_On(0x10, nullptr, CTRL_FLAG_MASK);
    Fct_Redraw(CTRL_REDRAW, nullptr, nullptr, nullptr);
    Ctrl_Dir_Buttons();
    return 1;
}

/* Rebuilds the current class's size, voxel and voxel-to-volume mapping
 * from the panel's angles; 0 without a current pair. */
static int Ctrl_Rotate_Step(void)
{
    if (!Ctrl_Pair_Valid())
        return 0;
    Kelvra_Oblique *org = Instance_Pt[Instance_Cur];
    Kelvra_Oblique *cur = Ctrl_Current();
    if (!org || !cur)
        return 0;
    cur->alpha = Rot_X;
    cur->beta = Rot_Y;
    cur->theta = Rot_Z;
    Rot_Matrix = Oblique_Rotation(Rot_X, Rot_Y, Rot_Z);

    Oblique_Grid grid = Oblique_Grid_Rotate(org->ref_dim, org->voxel, Rot_Matrix);
    cur->dim = grid.dim;
    cur->voxel.set(grid.voxel.x, grid.voxel.y, grid.voxel.z, cur->voxel.w);
    if (cur->dir_image)
        Oblique_Header_Voxel(cur->dir_image, cur->voxel);
    // org's voxel is read after cur's was set: turning the Original
    // direction itself maps its new voxel, not the one it had.
    cur->matrix = Oblique_Matrix_Rotate(org->ref_dim, org->voxel, Rot_Matrix, cur->voxel, grid.corner);

    Ctrl_Slider_Refresh(cur);
    return 1;
}

/* Shows the slider's slice: 1 when the preview images were rebuilt. */
static int Ctrl_Slice_Step(void)
{
    Kelvra_Oblique *cur = Ctrl_Current();
    if (!cur)
        return 0;
    int k = Ctrl_Slice_Get(cur);
    cur->slice_cur = (float)k;
    int built = 0;
    if (cur->dir_image) {
        Oblique_GLI_Build(cur, cur->dir_image, cur->dim.x, cur->dim.y, k);
        Oblique_TAG_Build(cur, cur->dir_image, cur->dim.x, cur->dim.y, k);
        built = 1;
    }
    Kelvra_Class *frame = cur->Child_Get_Nb() > k ? cur->Child_Get_Pt(k) : nullptr;
    if (frame) {
        // Only the shown frame of the direction stays marked.
        cur->Flag_Set_Off(0x20, nullptr, CTRL_FLAG_MASK);
        frame->Flag_Set_On(0x30, nullptr, CTRL_FLAG_MASK);
        Fct_Redraw(CTRL_REDRAW, nullptr, nullptr, nullptr);
    }
    return built;
}

static void Ctrl_Image_Step(void)
{
    Kelvra_Oblique *cur = Ctrl_Current();
    if (cur)
        Oblique_Image(image_window, &box_image, cur);
}

int Ctrl_Update(uint64_t flags)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Update(flag=%08x)", (unsigned int)flags);
    if (flags & CTRL_HOST_REFRESH)
        Ctrl_Refresh_Pass();
    if (!Ctrl_Active)
        return 1;
    if (flags & CTRL_HOST_REFRESH) {
        if (!Ctrl_List_Rebuild())
            return 0;
        flags |= CTRL_UPDATE_SELECT;
    }
    if (flags & CTRL_HOST_SLICE)
        flags |= CTRL_UPDATE_SLICE;
    if (flags & CTRL_UPDATE_DRAW) {
        Ctrl_Draw_Step();
        flags |= CTRL_UPDATE_SLICE;
    }
    if ((flags & CTRL_UPDATE_SELECT) && Ctrl_Select_Step())
        flags |= CTRL_UPDATE_SLICE;
    if (flags & CTRL_UPDATE_ROTATE) {
        if (!Ctrl_Rotate_Step())
            return 0;
        flags |= CTRL_UPDATE_SLICE;
    }
    if ((flags & CTRL_UPDATE_SLICE) && Ctrl_Slice_Step())
        flags |= CTRL_UPDATE_IMAGE;
    if (flags & CTRL_UPDATE_IMAGE)
        Ctrl_Image_Step();
    return 1;
}

extern "C" {

uint64_t Update_Register(void)
{
    return CTRL_HOST_FLAGS;
}

int Update_A(uint64_t flags)
{
    Ctrl_Update(flags);
    return 1;
}

} // extern "C"
