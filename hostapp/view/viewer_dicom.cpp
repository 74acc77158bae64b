/*
 * The viewer's DICOM key: what has been re-sliced and painted, written as
 * the session step "dicom" writes it.
 */
#include "../lib/az_session.h"
#include "az_viewer.h"

void AzViewer_Save_Dicom(AzViewer *viewer)
{
    std::string folder = viewer->dicom_folder.empty() ? "azozude-out" : viewer->dicom_folder, error;
    if (!AzSession_Dicom_Write(viewer->app, folder, &error))
        AzError(AZ_EXIT_INPUT, "DICOM not written: %s", error.c_str());
    viewer->dirty = 1;
}
