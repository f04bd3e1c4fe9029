/*
 * Orvane head tracking: the client library (OVClient.so) through which a game
 * reads the head pose. Usable from C and C++.
 *
 * A game registers a window, asks for the axes it wants, registers its
 * program profile id and starts the transmission; then it reads the pose
 * record whenever it likes, acting on a record whose frame counter changed.
 * At the end it stops the transmission and unregisters.
 *
 * The window handle a game registers may be its X11 window id: the program
 * then keeps the game registered while that window exists. With any other
 * handle (0 included) the game's process stands for its window. A game that
 * ends without unregistering is dropped within a second.
 *
 * Every function returns one of the OV_ results below; none blocks for long
 * (a command waits for the program's answer, at most a few seconds).
 */
#ifndef ORVANE_OVCLIENT_H
#define ORVANE_OVCLIENT_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define OV_EXPORT __attribute__((visibility("default")))
#else
#define OV_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The pose record, 68 bytes, little-endian. */
typedef struct OVPosePacket {
    uint16_t status;   /* one bit per value slot a client filled (0 as the program publishes) */
    uint16_t frame;    /* 1..32766, then 1 again; advances once per camera frame while transmitting */
    uint32_t reserved;
    float value[15];   /* 0 roll, 1 pitch, 2 yaw, 3 x, 4 y, 5 z, each -16383..16383; 6-14 are 0 */
} OVPosePacket;

/* A window handle as registered: an X11 window id, or any number. */
typedef uint32_t OVWindow;

/* Axis bits, for OV_RequestData and the status word. */
enum {
    OV_AXIS_ROLL = 1,
    OV_AXIS_PITCH = 2,
    OV_AXIS_YAW = 4,
    OV_AXIS_X = 16,
    OV_AXIS_Y = 32,
    OV_AXIS_Z = 64,
    OV_AXIS_ALL = 119
};

/* Results. */
enum {
    OV_OK = 0,
    OV_NO_SERVER = 1,          /* the program is not running */
    OV_BAD_ARGUMENT = 3,
    OV_NOT_BOUND = 4,          /* returned by callers that bind the library at run time */
    OV_MUTEX_TIMEOUT = 6,      /* the record was busy for more than 25 ms; try again */
    OV_ALREADY_REGISTERED = 7, /* another game holds the link */
    OV_PROFILE_REFUSED = 8,    /* id 0, or another game is active */
    OV_READ_ONLY = 9
};

/* Parameters for OV_GetParameter and OV_SetParameter. */
enum {
    OV_PARAMETER_TRACKING = 0, /* 1 while the head is tracked (or lost for at most 3 s) */
    OV_PARAMETER_PAUSED = 1,   /* 1 while tracking is paused */
    OV_PARAMETER_RECENTER = 2  /* 1 after each re-centre, until a client sets it to 0 */
};

OV_EXPORT int32_t OV_RegisterProgramProfileID(uint16_t id);
OV_EXPORT int32_t OV_RegisterWindowHandle(OVWindow window);
OV_EXPORT int32_t OV_UnregisterWindowHandle(void);
OV_EXPORT int32_t OV_RequestData(uint16_t flags);
OV_EXPORT int32_t OV_StartDataTransmission(void);
OV_EXPORT int32_t OV_StopDataTransmission(void);
OV_EXPORT int32_t OV_StartCursor(void);
OV_EXPORT int32_t OV_StopCursor(void);
OV_EXPORT int32_t OV_ReCenter(void);
OV_EXPORT int32_t OV_GetData(OVPosePacket* out);
OV_EXPORT int32_t OV_QueryVersion(uint16_t* out);
OV_EXPORT int32_t OV_GetParameter(int32_t index, int32_t* out);
OV_EXPORT int32_t OV_SetParameter(int32_t index, int32_t value);

#ifdef __cplusplus
}
#endif

/* The record's layout, checked wherever the header is compiled. */
#ifdef __cplusplus
static_assert(sizeof(OVPosePacket) == 68, "OVPosePacket is 68 bytes");
#else
_Static_assert(sizeof(OVPosePacket) == 68, "OVPosePacket is 68 bytes");
#endif
#ifdef __cplusplus
static_assert(offsetof(OVPosePacket, frame) == 2, "frame at byte 2");
static_assert(offsetof(OVPosePacket, value) == 8, "values from byte 8");
#else
_Static_assert(offsetof(OVPosePacket, frame) == 2, "frame at byte 2");
_Static_assert(offsetof(OVPosePacket, value) == 8, "values from byte 8");
#endif

#endif /* ORVANE_OVCLIENT_H */
