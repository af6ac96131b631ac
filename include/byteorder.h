/*
 * byteorder.h - byte-order conversion: swap primitives, the typed conversion
 * families between host arrays and a packed external byte stream in the
 * orders a (the host's own image), m (big-endian, network order) and v
 * (little-endian), the network-order wrappers and the mixed-width
 * converters.  See byteorder(3).
 *
 * Typed routines are named [u]<src>2<dst>: the external side is an order
 * letter and a type letter, the host side h and a type letter; b s i l are
 * 8/16/32/64-bit integers, f d single/double precision; a leading u makes
 * every integer involved unsigned.  External to host: (cursor, to, n); host
 * to external: (from, cursor, n).  The cursor is the address of a byte
 * pointer into the stream; it is advanced by n external values.  The stream
 * needs no alignment.  Each returns 0 when every element kept its value and
 * -1 when at least one was saturated, rounded, truncated or a NaN (the
 * converted values are stored all the same).  A count of 0 or less converts
 * nothing.
 */
#ifndef TKPIXMAP_BYTEORDER_H
#define TKPIXMAP_BYTEORDER_H

#include "tkpixmap_export.h"

TKP_BEGIN_DECLS

/* ---------------------------------------------------------------- swaps */

/* Reverse the bytes of each of n 2-, 4- or 8-byte elements of `from` into
 * `to`.  Any alignment; `from` may equal `to`; n <= 0 does nothing. */
TKP_EXPORT void swap2(const void *from, void *to, int n);
TKP_EXPORT void swap4(const void *from, void *to, int n);
TKP_EXPORT void swap8(const void *from, void *to, int n);

/* ------------------------ a order: the host's own memory image */

TKP_EXPORT int ab2hb(unsigned char **cursor, signed char *to, int n);
TKP_EXPORT int hb2ab(const signed char *from, unsigned char **cursor, int n);
TKP_EXPORT int uab2hb(unsigned char **cursor, unsigned char *to, int n);
TKP_EXPORT int uhb2ab(const unsigned char *from, unsigned char **cursor, int n);
TKP_EXPORT int ab2hs(unsigned char **cursor, short *to, int n);
TKP_EXPORT int hs2ab(const short *from, unsigned char **cursor, int n);
TKP_EXPORT int uab2hs(unsigned char **cursor, unsigned short *to, int n);
TKP_EXPORT int uhs2ab(const unsigned short *from, unsigned char **cursor, int n);
TKP_EXPORT int ab2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2ab(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int uab2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2ab(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int ab2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2ab(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uab2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2ab(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int ab2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2ab(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int uab2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int uhf2ab(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int ab2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2ab(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int uab2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2ab(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int as2hs(unsigned char **cursor, short *to, int n);
TKP_EXPORT int hs2as(const short *from, unsigned char **cursor, int n);
TKP_EXPORT int uas2hs(unsigned char **cursor, unsigned short *to, int n);
TKP_EXPORT int uhs2as(const unsigned short *from, unsigned char **cursor, int n);
TKP_EXPORT int as2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2as(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int uas2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2as(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int as2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2as(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uas2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2as(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int as2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2as(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int uas2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int uhf2as(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int as2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2as(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int uas2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2as(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int ai2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2ai(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int uai2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2ai(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int ai2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2ai(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uai2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2ai(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int ai2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2ai(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int uai2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int uhf2ai(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int ai2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2ai(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int uai2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2ai(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int al2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2al(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int ual2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2al(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int al2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2al(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int ual2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2al(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int af2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2af(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int uaf2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2af(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int af2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2af(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uaf2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2af(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int af2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2af(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int af2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2af(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int ad2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2ad(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uad2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2ad(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int ad2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2ad(const double *from, unsigned char **cursor, int n);

/* -------- m order: most significant byte first (network order) */

TKP_EXPORT int mb2hb(unsigned char **cursor, signed char *to, int n);
TKP_EXPORT int hb2mb(const signed char *from, unsigned char **cursor, int n);
TKP_EXPORT int umb2hb(unsigned char **cursor, unsigned char *to, int n);
TKP_EXPORT int uhb2mb(const unsigned char *from, unsigned char **cursor, int n);
TKP_EXPORT int mb2hs(unsigned char **cursor, short *to, int n);
TKP_EXPORT int hs2mb(const short *from, unsigned char **cursor, int n);
TKP_EXPORT int umb2hs(unsigned char **cursor, unsigned short *to, int n);
TKP_EXPORT int uhs2mb(const unsigned short *from, unsigned char **cursor, int n);
TKP_EXPORT int mb2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2mb(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int umb2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2mb(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int mb2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2mb(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int umb2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2mb(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int mb2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2mb(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int umb2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int uhf2mb(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int mb2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2mb(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int umb2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2mb(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int ms2hs(unsigned char **cursor, short *to, int n);
TKP_EXPORT int hs2ms(const short *from, unsigned char **cursor, int n);
TKP_EXPORT int ums2hs(unsigned char **cursor, unsigned short *to, int n);
TKP_EXPORT int uhs2ms(const unsigned short *from, unsigned char **cursor, int n);
TKP_EXPORT int ms2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2ms(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int ums2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2ms(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int ms2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2ms(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int ums2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2ms(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int ms2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2ms(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int ums2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int uhf2ms(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int ms2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2ms(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int ums2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2ms(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int mi2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2mi(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int umi2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2mi(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int mi2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2mi(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int umi2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2mi(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int mi2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2mi(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int umi2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int uhf2mi(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int mi2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2mi(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int umi2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2mi(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int ml2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2ml(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uml2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2ml(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int ml2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2ml(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int uml2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2ml(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int mf2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2mf(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int umf2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2mf(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int mf2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2mf(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int umf2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2mf(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int mf2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2mf(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int mf2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2mf(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int md2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2md(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int umd2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2md(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int md2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2md(const double *from, unsigned char **cursor, int n);

/* ----------------------- v order: least significant byte first */

TKP_EXPORT int vb2hb(unsigned char **cursor, signed char *to, int n);
TKP_EXPORT int hb2vb(const signed char *from, unsigned char **cursor, int n);
TKP_EXPORT int uvb2hb(unsigned char **cursor, unsigned char *to, int n);
TKP_EXPORT int uhb2vb(const unsigned char *from, unsigned char **cursor, int n);
TKP_EXPORT int vb2hs(unsigned char **cursor, short *to, int n);
TKP_EXPORT int hs2vb(const short *from, unsigned char **cursor, int n);
TKP_EXPORT int uvb2hs(unsigned char **cursor, unsigned short *to, int n);
TKP_EXPORT int uhs2vb(const unsigned short *from, unsigned char **cursor, int n);
TKP_EXPORT int vb2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2vb(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int uvb2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2vb(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int vb2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2vb(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uvb2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2vb(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int vb2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2vb(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int uvb2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int uhf2vb(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int vb2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2vb(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int uvb2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2vb(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int vs2hs(unsigned char **cursor, short *to, int n);
TKP_EXPORT int hs2vs(const short *from, unsigned char **cursor, int n);
TKP_EXPORT int uvs2hs(unsigned char **cursor, unsigned short *to, int n);
TKP_EXPORT int uhs2vs(const unsigned short *from, unsigned char **cursor, int n);
TKP_EXPORT int vs2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2vs(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int uvs2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2vs(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int vs2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2vs(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uvs2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2vs(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int vs2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2vs(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int uvs2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int uhf2vs(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int vs2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2vs(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int uvs2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2vs(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int vi2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2vi(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int uvi2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2vi(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int vi2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2vi(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uvi2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2vi(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int vi2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2vi(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int uvi2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int uhf2vi(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int vi2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2vi(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int uvi2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2vi(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int vl2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2vl(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uvl2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2vl(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int vl2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2vl(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int uvl2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int uhd2vl(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int vf2hi(unsigned char **cursor, int *to, int n);
TKP_EXPORT int hi2vf(const int *from, unsigned char **cursor, int n);
TKP_EXPORT int uvf2hi(unsigned char **cursor, unsigned int *to, int n);
TKP_EXPORT int uhi2vf(const unsigned int *from, unsigned char **cursor, int n);
TKP_EXPORT int vf2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2vf(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uvf2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2vf(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int vf2hf(unsigned char **cursor, float *to, int n);
TKP_EXPORT int hf2vf(const float *from, unsigned char **cursor, int n);
TKP_EXPORT int vf2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2vf(const double *from, unsigned char **cursor, int n);
TKP_EXPORT int vd2hl(unsigned char **cursor, long long *to, int n);
TKP_EXPORT int hl2vd(const long long *from, unsigned char **cursor, int n);
TKP_EXPORT int uvd2hl(unsigned char **cursor, unsigned long long *to, int n);
TKP_EXPORT int uhl2vd(const unsigned long long *from, unsigned char **cursor, int n);
TKP_EXPORT int vd2hd(unsigned char **cursor, double *to, int n);
TKP_EXPORT int hd2vd(const double *from, unsigned char **cursor, int n);

/* ------------------------------------------------ network-order wrappers */

/* Array wrappers: (to, from, n) like a memory copy, forwarding to the m-order
 * member named beside them; the byte pointer is not advanced.  They return
 * what the member returns. */
TKP_EXPORT int H2N2(void *to, const short *from, int n);           /* hs2ms */
TKP_EXPORT int H2NS(void *to, const short *from, int n);           /* hs2ms */
TKP_EXPORT int N2H2(short *to, const void *from, int n);           /* ms2hs */
TKP_EXPORT int N2HS(short *to, const void *from, int n);           /* ms2hs */
TKP_EXPORT int UH2N2(void *to, const unsigned short *from, int n); /* uhs2ms */
TKP_EXPORT int UH2NS(void *to, const unsigned short *from, int n); /* uhs2ms */
TKP_EXPORT int UN2H2(unsigned short *to, const void *from, int n); /* ums2hs */
TKP_EXPORT int UN2HS(unsigned short *to, const void *from, int n); /* ums2hs */
TKP_EXPORT int H2N4(void *to, const int *from, int n);             /* hi2mi */
TKP_EXPORT int H2NI(void *to, const int *from, int n);             /* hi2mi */
TKP_EXPORT int N2H4(int *to, const void *from, int n);             /* mi2hi */
TKP_EXPORT int N2HI(int *to, const void *from, int n);             /* mi2hi */
TKP_EXPORT int UH2N4(void *to, const unsigned int *from, int n);   /* uhi2mi */
TKP_EXPORT int UH2NI(void *to, const unsigned int *from, int n);   /* uhi2mi */
TKP_EXPORT int UN2H4(unsigned int *to, const void *from, int n);   /* umi2hi */
TKP_EXPORT int UN2HI(unsigned int *to, const void *from, int n);   /* umi2hi */
TKP_EXPORT int H2N8(void *to, const double *from, int n);          /* hd2md */
TKP_EXPORT int H2ND(void *to, const double *from, int n);          /* hd2md */
TKP_EXPORT int N2H8(double *to, const void *from, int n);          /* md2hd */
TKP_EXPORT int N2HD(double *to, const void *from, int n);          /* md2hd */
TKP_EXPORT int UH2N8(void *to, const unsigned long long *from, int n); /* uhl2ml */
TKP_EXPORT int UH2NL(void *to, const unsigned long long *from, int n); /* uhl2ml */
TKP_EXPORT int UN2H8(unsigned long long *to, const void *from, int n); /* uml2hl */
TKP_EXPORT int UN2HL(unsigned long long *to, const void *from, int n); /* uml2hl */
TKP_EXPORT int H2NL(void *to, const long long *from, int n);       /* hl2ml */
TKP_EXPORT int N2HL(long long *to, const void *from, int n);       /* ml2hl */

/* Single values.  htond/htonf return a value whose memory image is the
 * network image of x; ntohd/ntohf take such a value back.  The pointer forms
 * take (from, to), move 8 or 4 bytes and return the member's result. */
TKP_EXPORT double htond(double x);
TKP_EXPORT double ntohd(double y);
TKP_EXPORT float htonf(float x);
TKP_EXPORT float ntohf(float y);
TKP_EXPORT int htondp(const double *from, void *to);     /* hd2md */
TKP_EXPORT int ntohdp(const void *from, double *to);     /* md2hd */
TKP_EXPORT int htonfp(const float *from, void *to);      /* hf2mf */
TKP_EXPORT int ntohfp(const void *from, float *to);      /* mf2hf */
TKP_EXPORT int hton8p(const long long *from, void *to);  /* hl2ml */
TKP_EXPORT int ntoh8p(const void *from, long long *to);  /* ml2hl */

/* ----------------------------------------------- mixed-width converters */

/* 24-bit network integers: 3 bytes per element, sign taken from bit 23;
 * H42N3 keeps the low 24 bits of each int without any check. */
TKP_EXPORT void N32H4(int *to, const void *from, int n);
TKP_EXPORT void H42N3(void *to, const int *from, int n);
/* Network single-precision images held as double on the host; no reports
 * (a double too large for a float becomes an infinity). */
TKP_EXPORT void NF2HD(double *to, const void *from, int n);
TKP_EXPORT void HD2NF(void *to, const double *from, int n);
/* Host int arrays packed as network bytes, shorts or floats. */
TKP_EXPORT int HI2NC(void *to, const int *from, int n);  /* hi2mb */
TKP_EXPORT int HI2NS(void *to, const int *from, int n);  /* hi2ms */
TKP_EXPORT int HI2NF(void *to, const int *from, int n);  /* hi2mf */
TKP_EXPORT int NC2HI(int *to, const void *from, int n);  /* mb2hi */
TKP_EXPORT int NS2HI(int *to, const void *from, int n);  /* ms2hi */
TKP_EXPORT int NF2HI(int *to, const void *from, int n);  /* mf2hi */

TKP_END_DECLS

#endif
