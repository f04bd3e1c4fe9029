/* The games' header compiled as C: the record's layout and the constants as a
 * C compiler sees them, and every export's type as a C game calls it. */
#include "orvane/ovclient.h"

size_t ov_c_record_size(void) { return sizeof(OVPosePacket); }
size_t ov_c_frame_offset(void) { return offsetof(OVPosePacket, frame); }
size_t ov_c_values_offset(void) { return offsetof(OVPosePacket, value); }
size_t ov_c_window_size(void) { return sizeof(OVWindow); }

int ov_c_constant(int which)
{
    static const int values[] = {
        OV_AXIS_ROLL, OV_AXIS_PITCH, OV_AXIS_YAW, OV_AXIS_X, OV_AXIS_Y, OV_AXIS_Z, OV_AXIS_ALL,
        OV_OK, OV_NO_SERVER, OV_BAD_ARGUMENT, OV_NOT_BOUND, OV_MUTEX_TIMEOUT, OV_ALREADY_REGISTERED,
        OV_PROFILE_REFUSED, OV_READ_ONLY,
        OV_PARAMETER_TRACKING, OV_PARAMETER_PAUSED, OV_PARAMETER_RECENTER,
    };
    return which >= 0 && which < (int)(sizeof values / sizeof values[0]) ? values[which] : -1;
}

/* Checked by the compiler only (sizeof does not evaluate): nothing here
 * loads the library. */
int ov_c_signatures(void)
{
    int32_t (*id)(uint16_t) = 0;
    int32_t (*window)(OVWindow) = 0;
    int32_t (*none)(void) = 0;
    int32_t (*data)(OVPosePacket*) = 0;
    int32_t (*version)(uint16_t*) = 0;
    int32_t (*get)(int32_t, int32_t*) = 0;
    int32_t (*set)(int32_t, int32_t) = 0;
    return (int)(sizeof(id = OV_RegisterProgramProfileID) + sizeof(window = OV_RegisterWindowHandle) +
                 sizeof(none = OV_UnregisterWindowHandle) + sizeof(id = OV_RequestData) +
                 sizeof(none = OV_StartDataTransmission) + sizeof(none = OV_StopDataTransmission) +
                 sizeof(none = OV_StartCursor) + sizeof(none = OV_StopCursor) + sizeof(none = OV_ReCenter) +
                 sizeof(data = OV_GetData) + sizeof(version = OV_QueryVersion) + sizeof(get = OV_GetParameter) +
                 sizeof(set = OV_SetParameter));
}
