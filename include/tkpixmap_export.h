/* The one export macro: everything else in libtkpixmap.so.3 is hidden. */
#ifndef TKPIXMAP_EXPORT_H
#define TKPIXMAP_EXPORT_H

#if defined(TKPIXMAP_BUILDING)
#define TKP_EXPORT __attribute__((visibility("default")))
#else
#define TKP_EXPORT
#endif

#ifdef __cplusplus
#define TKP_BEGIN_DECLS extern "C" {
#define TKP_END_DECLS }
#else
#define TKP_BEGIN_DECLS
#define TKP_END_DECLS
#endif

#endif
