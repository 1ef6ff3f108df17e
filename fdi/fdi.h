/*
 * The cabinet decompression interface: records, codes and operations.
 *
 * Our own declaration of the published interface. Integer fields use
 * fixed-width types so that the record layout is the same on every platform
 * (the published "long" is 32 bits); the notification result is pointer-sized
 * because fdintCOPY_FILE returns a file handle through it. Usable from C.
 */
#ifndef MG_FDI_FDI_H
#define MG_FDI_FDI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t BOOL32;

/* ---- error record ------------------------------------------------------ */

typedef struct {
    int32_t erfOper;  /* FDIERROR code */
    int32_t erfType;  /* extra value: the version word for UNKNOWN_CABINET_VERSION */
    BOOL32 fError;    /* TRUE with every error */
} ERF;
typedef ERF* PERF;

typedef enum {
    FDIERROR_NONE = 0,
    FDIERROR_CABINET_NOT_FOUND = 1,
    FDIERROR_NOT_A_CABINET = 2,
    FDIERROR_UNKNOWN_CABINET_VERSION = 3,
    FDIERROR_CORRUPT_CABINET = 4,
    FDIERROR_ALLOC_FAIL = 5,
    FDIERROR_BAD_COMPR_TYPE = 6,
    FDIERROR_MDI_FAIL = 7,
    FDIERROR_TARGET_FILE = 8,
    FDIERROR_RESERVE_MISMATCH = 9,
    FDIERROR_WRONG_CABINET = 10,
    FDIERROR_USER_ABORT = 11
} FDIERROR;

/* ---- format constants -------------------------------------------------- */

#define cfhdrPREV_CABINET 0x0001
#define cfhdrNEXT_CABINET 0x0002
#define cfhdrRESERVE_PRESENT 0x0004

#define ifoldCONTINUED_FROM_PREV 0xFFFD
#define ifoldCONTINUED_TO_NEXT 0xFFFE
#define ifoldCONTINUED_PREV_AND_NEXT 0xFFFF

#define tcompMASK_TYPE 0x000F
#define tcompTYPE_NONE 0x0000
#define tcompTYPE_MSZIP 0x0001
#define tcompTYPE_QUANTUM 0x0002
#define tcompTYPE_LZX 0x0003
#define tcompBAD 0x000F
#define tcompSHIFT_WINDOW 8
#define tcompMASK_WINDOW 0x1F00 /* bits 8 to 12 */

#define _A_RDONLY 0x01
#define _A_HIDDEN 0x02
#define _A_SYSTEM 0x04
#define _A_ARCH 0x20
#define _A_EXEC 0x40
#define _A_NAME_IS_UTF 0x80

#define cpuUNKNOWN (-1)
#define cpu80286 0
#define cpu80386 1

/* Name buffers hold 256 bytes of name (255 characters and the NUL) plus one. */
#define FDI_NAME_BUFFER 257

/* ---- records ----------------------------------------------------------- */

typedef struct {
    int32_t cbCabinet;
    uint16_t cFolders;
    uint16_t cFiles;
    uint16_t setID;
    uint16_t iCabinet;
    BOOL32 fReserve;
    BOOL32 hasprev;
    BOOL32 hasnext; /* the flag bit's own value: 2 when a next cabinet follows */
} FDICABINETINFO;
typedef FDICABINETINFO* PFDICABINETINFO;

typedef enum {
    fdintCABINET_INFO = 0,
    fdintPARTIAL_FILE = 1,
    fdintCOPY_FILE = 2,
    fdintCLOSE_FILE_INFO = 3,
    fdintNEXT_CABINET = 4,
    fdintENUMERATE = 5
} FDINOTIFICATIONTYPE;

typedef struct {
    int32_t cb;
    char* psz1;
    char* psz2;
    char* psz3;
    void* pv;
    int hf;
    uint16_t date;
    uint16_t time;
    uint16_t attribs;
    uint16_t setID;
    uint16_t iCabinet;
    uint16_t iFolder;
    FDIERROR fdie;
} FDINOTIFICATION;
typedef FDINOTIFICATION* PFDINOTIFICATION;

typedef enum {
    fdidtNEW_CABINET = 0, /* after every fdintCABINET_INFO */
    fdidtNEW_FOLDER = 1,  /* after a folder has been selected */
    fdidtDECRYPT = 2      /* after every data block (and part of a split block) */
} FDIDECRYPTTYPE;

/* The kind-specific parts of FDIDECRYPT, named so that the record is plain
 * standard C and C++. */
typedef struct {
    void* pHeaderReserve; /* NULL while none has been allocated */
    uint16_t cbHeaderReserve;
    uint16_t setID;
    int32_t iCabinet;
} FDIDECRYPT_CABINET;

typedef struct {
    void* pFolderReserve; /* NULL when the reserve is empty */
    uint16_t cbFolderReserve;
    uint16_t iFolder;
} FDIDECRYPT_FOLDER;

typedef struct {
    void* pDataReserve; /* NULL when the reserve is empty */
    uint16_t cbDataReserve;
    void* pbData;
    uint16_t cbData;     /* compressed size counted so far, first part included */
    BOOL32 fSplit;       /* set for both parts of a split block */
    uint16_t cbPartial;  /* size of the first part; 0 unless this is the second */
} FDIDECRYPT_DATA;

typedef struct {
    FDIDECRYPTTYPE fdidt;
    void* pvUser;
    union {
        FDIDECRYPT_CABINET cabinet;
        FDIDECRYPT_FOLDER folder;
        FDIDECRYPT_DATA decrypt;
    };
} FDIDECRYPT;
typedef FDIDECRYPT* PFDIDECRYPT;

/* ---- callbacks --------------------------------------------------------- */

typedef void* (*PFNALLOC)(uint32_t cb);
typedef void (*PFNFREE)(void* pv);
typedef int (*PFNOPEN)(const char* pszFile, int oflag, int pmode);
typedef uint32_t (*PFNREAD)(int hf, void* pv, uint32_t cb);
typedef uint32_t (*PFNWRITE)(int hf, const void* pv, uint32_t cb);
typedef int (*PFNCLOSE)(int hf);
typedef int32_t (*PFNSEEK)(int hf, int32_t dist, int seektype);
typedef intptr_t (*PFNFDINOTIFY)(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);
typedef int (*PFNFDIDECRYPT)(PFDIDECRYPT pfdid);

/* Open flags and permission values that the engine and its clients pass. */
#define FDI_O_RDONLY 0x0000
#define FDI_O_WRONLY 0x0001
#define FDI_O_CREAT 0x0100
#define FDI_O_SEQUENTIAL 0x0020
#define FDI_O_BINARY 0x8000
#define FDI_S_IWRITE 0x0080
#define FDI_S_IREAD 0x0100

/* ---- operations -------------------------------------------------------- */

typedef void* HFDI;

HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, PERF perf);
BOOL32 FDIIsCabinet(HFDI hfdi, int hf, PFDICABINETINFO pfdici);
BOOL32 FDICopy(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, int flags,
               PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid, void* pvUser);
BOOL32 FDIDestroy(HFDI hfdi);

/* The data-block checksum, over cb bytes with the given seed. */
uint32_t FDIChecksum(const void* pv, uint32_t cb, uint32_t seed);

#ifdef __cplusplus
}
#endif

#endif /* MG_FDI_FDI_H */
