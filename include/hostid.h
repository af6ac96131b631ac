/*
 * hostid.h - who and where the program is: host, system and hardware names,
 * the host's own address, name/address translation, the login name and the
 * IPv4 addresses of the host's interfaces.
 *
 * Network form: the address's bytes in network order (struct in_addr).
 * Numeric form: a.b.c.d is a<<24 | b<<16 | c<<8 | d.
 */
#ifndef TKPIXMAP_HOSTID_H
#define TKPIXMAP_HOSTID_H

#include <stdint.h>

#include "tkpixmap_export.h"

TKP_BEGIN_DECLS

/* Buffer sizes the functions assume of their callers; longer texts are cut. */
#define HOSTID_UNAME_SIZE 65    /* my_hostname, my_os, my_hardware */
#define HOSTID_NAME_SIZE 256    /* host names from the resolver */
#define HOSTID_DOTTED_SIZE 16   /* "255.255.255.255" */
#define HOSTID_LOGIN_SIZE 256   /* my_username */
#define HOSTID_IPS_SIZE 32      /* my_ips: up to 31 addresses and a 0 */

TKP_EXPORT int my_hostname(char *buf);   /* node name up to its first "." */
TKP_EXPORT int my_os(char *buf);
TKP_EXPORT int my_hardware(char *buf);

/* The host's official name, dotted address and address (network form);
 * "localhost" and the first interface address when the host name does not
 * resolve.  0, or -1 when no address is known. */
TKP_EXPORT int my_ip(char *name, char *dotted, uint32_t *ip);

/* Host name of ip (network form); its dotted text and -1 when it does not
 * resolve (reported once per address). */
TKP_EXPORT int ip2name(uint32_t ip, char *name);

/* Address (network form) and dotted text of name; 0xFFFFFFFF, "" and -1 when
 * it does not resolve. */
TKP_EXPORT int name2ip(const char *name, uint32_t *ip, char *dotted);

/* Login name of the effective user; "u#<uid>" and -1 when it has none. */
TKP_EXPORT int my_username(char *buf);

/* First address (numeric form) the interface listing shows, 0 if none. */
TKP_EXPORT uint32_t my_ipaddress(void);

/* Up to 31 interface addresses other than 127.0.0.1 (numeric form), in the
 * listed order, followed by 0; the count.  Cached for 60 seconds. */
TKP_EXPORT int my_ips(uint32_t *ips);

TKP_END_DECLS

#endif
