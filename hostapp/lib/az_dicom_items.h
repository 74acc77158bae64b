/*
 * DICOM elements in and out of GDCM data sets, for the host's DICOM
 * writers and the segmentation reader.  Elements are named by their tag
 * as one number, group in the high half (0x00200032).
 */
#ifndef AZ_DICOM_ITEMS_H
#define AZ_DICOM_ITEMS_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include <gdcmDataSet.h>

#define AZ_DCM_SOP_SEGMENTATION "1.2.840.10008.5.1.4.1.1.66.4"

gdcm::Tag AzDcm_Tag_Of(uint32_t code);

/* A text in place of the element: padded to an even length, UIDs and
 * bytes with a zero byte, texts with a blank. */
void AzDcm_Put(gdcm::DataSet *data, uint32_t code, gdcm::VR vr, const std::string &text);
void AzDcm_Put_US(gdcm::DataSet *data, uint32_t code, uint16_t value);
/* An attribute tag as the value (AT). */
void AzDcm_Put_AT(gdcm::DataSet *data, uint32_t code, uint32_t value);
/* A sequence of these items (lengths left undefined). */
void AzDcm_Put_Items(gdcm::DataSet *data, uint32_t code, const std::vector<gdcm::DataSet> &items);
void AzDcm_Put_Item(gdcm::DataSet *data, uint32_t code, const gdcm::DataSet &item);

/* A decimal string of at most 16 characters, with as many digits as fit. */
std::string AzDcm_Ds(double value);
std::string AzDcm_Ds_List(const double *values, int count);
std::string AzDcm_Uid_New(void);
/* Today's date (YYYYMMDD) and the time (HHMMSS). */
void AzDcm_Now(std::string *date, std::string *clock);

/* An element's text without its padding ("" when absent). */
std::string AzDcm_Text(const gdcm::DataSet &data, uint32_t code);
/* Up to count numbers of a decimal or integer string: how many were read. */
int AzDcm_Numbers(const gdcm::DataSet &data, uint32_t code, double *values, int count);
/* count unsigned 16-bit values: 1, or 0 when fewer are stored. */
int AzDcm_Unsigned_16_List(const gdcm::DataSet &data, uint32_t code, double *values, int count);
int AzDcm_Unsigned_16(const gdcm::DataSet &data, uint32_t code, int *value);
/* Item i (from 0) of a sequence, or null; the number of items. */
const gdcm::DataSet *AzDcm_Item_Of(const gdcm::DataSet &data, uint32_t code, size_t i);
size_t AzDcm_Items_Count(const gdcm::DataSet &data, uint32_t code);

/* Whether read, run in a child process, returns without ending it: the
 * DICOM library fails an assertion on some malformed files, so a file is
 * read there first.  1 too when no child can be started (read and hope). */
int AzDcm_Child_Survives(const std::function<void()> &read);

/* Whether the DICOM library reads the file's attributes without ending the
 * process. */
int AzDcm_Read_Survives(const std::string &file);

/* A DICOM file's attributes without its pixels: 1 when it has a SOP
 * instance. */
int AzDcm_Header_Read(const std::string &file, gdcm::DataSet *header);

/* Colours as segments recommend them: CIELab (D50) scaled to 16 bits. */
void AzDcm_Lab_From_Rgb(const unsigned char rgb[3], uint16_t lab[3]);
void AzDcm_Rgb_From_Lab(const double lab_scaled[3], unsigned char rgb[3]);

#endif
