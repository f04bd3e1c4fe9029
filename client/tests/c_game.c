/* A native game in C for the tests: linked against OVClient.so through the
 * games' header, it runs one command per line of standard input and answers
 * one line each (testing_support::ClientProcess drives it; its first
 * argument, the library's path, is not needed: the library is linked).
 *
 *   window       makes an X11 window on $DISPLAY: its id (0 without a display)
 *   close        destroys that window, the game running on: "closed"
 *   regwin [h]   registers h, or the window, or 0: the result
 *   profile n | request n | start | stop | unreg: the result
 *   read n       reads until the counter advanced n frames:
 *                "<frames> <missed> <lost> <longest wait ms> <last result>" (see read_frames)
 *   exit         ends without unregistering (its windows go with it)
 */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <xcb/xcb.h>

#include "orvane/ovclient.h"

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1000.0 + (double)t.tv_nsec / 1e6;
}

static xcb_connection_t* display_connection;

static uint32_t make_window(void)
{
    display_connection = xcb_connect(NULL, NULL);
    if (xcb_connection_has_error(display_connection)) {
        xcb_disconnect(display_connection);
        display_connection = NULL;
        return 0;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(display_connection)).data;
    const uint32_t window = xcb_generate_id(display_connection);
    xcb_create_window(display_connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 320, 240, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, NULL);
    xcb_map_window(display_connection, window);
    free(xcb_get_input_focus_reply(display_connection, xcb_get_input_focus(display_connection), NULL));
    return window;
}

/* Reads the record until the frame counter has advanced by `wanted` frames
 * (at most 120 s), polling far faster than any camera's frames come. Frames
 * are counted by the counter's differences. A value it never saw is
 * "missed"; one missed while the game was looking all the time (no gap
 * between two reads of 2 ms or more since the frame before) is "lost": the
 * program published it and overwrote it before a game that reads faster
 * than the camera could see it. Only while frames come steadily: after the
 * program itself paused (no new frame for over a frame's time, a loaded
 * machine), it catches up on the camera's frames faster than any game can
 * read, and what is missed then is not counted as lost. */
static void read_frames(long wanted)
{
    const struct timespec pause = {0, 100000}; /* 0.1 ms, far below a frame */
    const double lookingGap = 2.0;             /* ms: still looking */
    const double stall = 15.0;                 /* ms: a frame and a half at 100 Hz */
    OVPosePacket pose;
    long frames = 0, missed = 0, lost = 0;
    int last = -1, result = 0;
    double lastNew = now_ms(), longest = 0, lastRead = lastNew, widestGap = 0;
    double catchingUpUntil = 0; /* the burst after the program's last pause */
    const double end = lastNew + 120000.0;
    while (frames < wanted && now_ms() < end) {
        result = OV_GetData(&pose);
        const double t = now_ms();
        if (t - lastRead > widestGap)
            widestGap = t - lastRead;
        lastRead = t;
        if (result == OV_OK && pose.frame != 0 && pose.frame != last) {
            if (last > 0) {
                /* 1..32766, then 1 again */
                const long step = ((long)pose.frame - last + 32766) % 32766;
                frames += step;
                missed += step - 1;
                if (t - lastNew > stall)
                    catchingUpUntil = t + stall;
                if (widestGap < lookingGap && t > catchingUpUntil)
                    lost += step - 1;
                if (t - lastNew > longest)
                    longest = t - lastNew;
            }
            last = pose.frame;
            lastNew = t;
            widestGap = 0;
        }
        nanosleep(&pause, NULL);
    }
    if (now_ms() - lastNew > longest)
        longest = now_ms() - lastNew;
    printf("%ld %ld %ld %.0f %d\n", frames, missed, lost, longest, result);
}

int main(void)
{
    char line[256];
    uint32_t window = 0;
    printf("ready\n");
    fflush(stdout);
    while (fgets(line, sizeof line, stdin) != NULL) {
        char command[32] = "";
        long value = 0;
        const int fields = sscanf(line, "%31s %ld", command, &value);
        if (strcmp(command, "window") == 0) {
            window = make_window();
            printf("%u\n", (unsigned)window);
        } else if (strcmp(command, "close") == 0) {
            if (display_connection != NULL && window != 0) {
                xcb_destroy_window(display_connection, window);
                free(xcb_get_input_focus_reply(display_connection, xcb_get_input_focus(display_connection), NULL));
            }
            printf("closed\n");
        } else if (strcmp(command, "regwin") == 0) {
            printf("%d\n", (int)OV_RegisterWindowHandle(fields == 2 ? (OVWindow)value : window));
        } else if (strcmp(command, "profile") == 0) {
            printf("%d\n", (int)OV_RegisterProgramProfileID((uint16_t)value));
        } else if (strcmp(command, "request") == 0) {
            printf("%d\n", (int)OV_RequestData((uint16_t)value));
        } else if (strcmp(command, "start") == 0) {
            printf("%d\n", (int)OV_StartDataTransmission());
        } else if (strcmp(command, "stop") == 0) {
            printf("%d\n", (int)OV_StopDataTransmission());
        } else if (strcmp(command, "unreg") == 0) {
            printf("%d\n", (int)OV_UnregisterWindowHandle());
        } else if (strcmp(command, "read") == 0) {
            read_frames(value);
        } else if (strcmp(command, "exit") == 0) {
            break;
        } else {
            printf("unknown\n");
        }
        fflush(stdout);
    }
    /* No unregistering: the program must notice on its own. */
    return 0;
}
