/* A scripted Wayland compositor for the tests: no outputs, one seat, and whichever of the idle
 * notification protocols (ext-idle-notify-v1, org_kde_kwin_idle) and xdg-activation-v1 the
 * command line asks for. Idle notifications keep real time: a notification turns idle after
 * its timeout without input and resumes at the next input.
 *
 * Usage: wayland_test_server [--ext] [--kde] [--activation] [--no-seat] [--socket NAME]
 * Prints "READY <socket name>" once clients can connect (in $XDG_RUNTIME_DIR). Commands on
 * standard input, one a line: "input" (the user typed), "drop" (close every client's
 * connection), "quit". Reports on standard output: "NOTIFY <protocol> <timeout>", "IDLED",
 * "RESUMED", "TOKEN <token>", "ACTIVATE <token>". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wayland-server.h>

#include "ext-idle-notify-v1-server-protocol.h"
#include "kde-idle-server-protocol.h"
#include "xdg-activation-v1-server-protocol.h"

struct note {
    struct wl_list link;
    struct wl_resource* resource;
    struct wl_event_source* timer;
    unsigned timeout;
    int idle;
    int kde;
};

static struct wl_display* display;
static struct wl_list notes;
static int token_count;

#define say(...) (printf(__VA_ARGS__), fflush(stdout))

static void note_send(struct note* n, int idle) {
    if (n->kde)
        idle ? org_kde_kwin_idle_timeout_send_idle(n->resource) : org_kde_kwin_idle_timeout_send_resumed(n->resource);
    else
        idle ? ext_idle_notification_v1_send_idled(n->resource) : ext_idle_notification_v1_send_resumed(n->resource);
    say("%s\n", idle ? "IDLED" : "RESUMED");
}

static int note_timeout(void* data) {
    struct note* n = data;
    if (!n->idle) {
        n->idle = 1;
        note_send(n, 1);
    }
    return 0;
}

static void note_destroy(struct wl_resource* resource) {
    struct note* n = wl_resource_get_user_data(resource);
    wl_event_source_remove(n->timer);
    wl_list_remove(&n->link);
    free(n);
}

static void destroy_request(struct wl_client* client, struct wl_resource* resource) {
    (void)client;
    wl_resource_destroy(resource);
}

static void kde_simulate(struct wl_client* client, struct wl_resource* resource) {
    (void)client;
    (void)resource;
}

static const struct ext_idle_notification_v1_interface ext_note_impl = {destroy_request};
static const struct org_kde_kwin_idle_timeout_interface kde_note_impl = {destroy_request, kde_simulate};

static void add_note(struct wl_client* client, uint32_t id, unsigned timeout, int kde, int version) {
    struct note* n = calloc(1, sizeof *n);
    n->kde = kde;
    n->timeout = timeout;
    n->resource = wl_resource_create(client, kde ? &org_kde_kwin_idle_timeout_interface : &ext_idle_notification_v1_interface,
                                     version, id);
    wl_resource_set_implementation(n->resource, kde ? (const void*)&kde_note_impl : (const void*)&ext_note_impl, n,
                                   note_destroy);
    n->timer = wl_event_loop_add_timer(wl_display_get_event_loop(display), note_timeout, n);
    wl_event_source_timer_update(n->timer, timeout ? (int)timeout : 1);
    wl_list_insert(&notes, &n->link);
    say("NOTIFY %s %u\n", kde ? "org_kde_kwin_idle" : "ext-idle-notify-v1", timeout);
}

static void ext_get(struct wl_client* client, struct wl_resource* resource, uint32_t id, uint32_t timeout,
                    struct wl_resource* seat) {
    (void)seat;
    add_note(client, id, timeout, 0, wl_resource_get_version(resource));
}
static const struct ext_idle_notifier_v1_interface ext_impl = {destroy_request, ext_get};

static void kde_get(struct wl_client* client, struct wl_resource* resource, uint32_t id, struct wl_resource* seat,
                    uint32_t timeout) {
    (void)seat;
    add_note(client, id, timeout, 1, wl_resource_get_version(resource));
}
static const struct org_kde_kwin_idle_interface kde_impl = {kde_get};

static void bind_ext(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
    (void)data;
    struct wl_resource* r = wl_resource_create(client, &ext_idle_notifier_v1_interface, (int)version, id);
    wl_resource_set_implementation(r, &ext_impl, NULL, NULL);
}
static void bind_kde(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
    (void)data;
    struct wl_resource* r = wl_resource_create(client, &org_kde_kwin_idle_interface, (int)version, id);
    wl_resource_set_implementation(r, &kde_impl, NULL, NULL);
}

static void seat_get_any(struct wl_client* client, struct wl_resource* resource, uint32_t id) {
    (void)client;
    (void)resource;
    (void)id;
}
static void seat_release(struct wl_client* client, struct wl_resource* resource) { destroy_request(client, resource); }
static const struct wl_seat_interface seat_impl = {seat_get_any, seat_get_any, seat_get_any, seat_release};
static void bind_seat(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
    (void)data;
    struct wl_resource* r = wl_resource_create(client, &wl_seat_interface, (int)version, id);
    wl_resource_set_implementation(r, &seat_impl, NULL, NULL);
    wl_seat_send_capabilities(r, WL_SEAT_CAPABILITY_KEYBOARD | WL_SEAT_CAPABILITY_POINTER);
}

/* xdg-activation-v1: every committed request gets a token; activations are reported. */
static void token_set_serial(struct wl_client* c, struct wl_resource* r, uint32_t serial, struct wl_resource* seat) {
    (void)c, (void)r, (void)serial, (void)seat;
}
static void token_set_app_id(struct wl_client* c, struct wl_resource* r, const char* app_id) { (void)c, (void)r, (void)app_id; }
static void token_set_surface(struct wl_client* c, struct wl_resource* r, struct wl_resource* s) { (void)c, (void)r, (void)s; }
static void token_commit(struct wl_client* c, struct wl_resource* r) {
    (void)c;
    char token[32];
    snprintf(token, sizeof token, "test-token-%d", ++token_count);
    xdg_activation_token_v1_send_done(r, token);
    say("TOKEN %s\n", token);
}
static const struct xdg_activation_token_v1_interface token_impl = {token_set_serial, token_set_app_id, token_set_surface,
                                                                    token_commit, destroy_request};
static void activation_get(struct wl_client* client, struct wl_resource* resource, uint32_t id) {
    struct wl_resource* r = wl_resource_create(client, &xdg_activation_token_v1_interface, wl_resource_get_version(resource), id);
    wl_resource_set_implementation(r, &token_impl, NULL, NULL);
}
static void activation_activate(struct wl_client* c, struct wl_resource* r, const char* token, struct wl_resource* s) {
    (void)c, (void)r, (void)s;
    say("ACTIVATE %s\n", token);
}
static const struct xdg_activation_v1_interface activation_impl = {destroy_request, activation_get, activation_activate};
static void bind_activation(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
    (void)data;
    struct wl_resource* r = wl_resource_create(client, &xdg_activation_v1_interface, (int)version, id);
    wl_resource_set_implementation(r, &activation_impl, NULL, NULL);
}

static void input(void) {
    struct note* n;
    wl_list_for_each(n, &notes, link) {
        if (n->idle) {
            n->idle = 0;
            note_send(n, 0);
        }
        wl_event_source_timer_update(n->timer, n->timeout ? (int)n->timeout : 1);
    }
}

static int on_stdin(int fd, uint32_t mask, void* data) {
    (void)data;
    static char line[256];
    static size_t have;
    if (mask & (WL_EVENT_HANGUP | WL_EVENT_ERROR)) {
        wl_display_terminate(display);
        return 0;
    }
    ssize_t n = read(fd, line + have, sizeof line - 1 - have);
    if (n <= 0) {
        wl_display_terminate(display);
        return 0;
    }
    have += (size_t)n;
    char* end;
    while ((end = memchr(line, '\n', have))) {
        *end = 0;
        if (strcmp(line, "input") == 0) {
            input();
        } else if (strcmp(line, "drop") == 0) {
            struct wl_list* clients = wl_display_get_client_list(display);
            while (!wl_list_empty(clients)) wl_client_destroy(wl_client_from_link(clients->next));
        } else if (strcmp(line, "quit") == 0) {
            wl_display_terminate(display);
        }
        size_t used = (size_t)(end - line) + 1;
        memmove(line, end + 1, have - used);
        have -= used;
    }
    if (have == sizeof line - 1) have = 0;
    return 0;
}

int main(int argc, char** argv) {
    int ext = 0, kde = 0, activation = 0, seat = 1;
    const char* socket = NULL;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--socket") == 0 && i + 1 < argc) socket = argv[++i];
        if (strcmp(argv[i], "--ext") == 0) ext = 1;
        if (strcmp(argv[i], "--kde") == 0) kde = 1;
        if (strcmp(argv[i], "--activation") == 0) activation = 1;
        if (strcmp(argv[i], "--no-seat") == 0) seat = 0;
    }
    wl_list_init(&notes);
    display = wl_display_create();
    if (!display) return 1;
    if (seat) wl_global_create(display, &wl_seat_interface, 1, NULL, bind_seat);
    if (ext) wl_global_create(display, &ext_idle_notifier_v1_interface, 1, NULL, bind_ext);
    if (kde) wl_global_create(display, &org_kde_kwin_idle_interface, 1, NULL, bind_kde);
    if (activation) wl_global_create(display, &xdg_activation_v1_interface, 1, NULL, bind_activation);
    const char* name = socket;
    if (socket ? wl_display_add_socket(display, socket) != 0 : !(name = wl_display_add_socket_auto(display))) return 1;
    wl_event_loop_add_fd(wl_display_get_event_loop(display), 0, WL_EVENT_READABLE, on_stdin, NULL);
    say("READY %s\n", name);
    wl_display_run(display);
    wl_display_destroy_clients(display);
    wl_display_destroy(display);
    return 0;
}
