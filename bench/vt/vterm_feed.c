/* The reference side of the terminal benchmark: the same streams through libvterm, fed the
 * same way as vtfeed does (4096-byte slices into one terminal of 24x80 with its screen layer
 * on, lines scrolled off the top kept in a 176-line history like ours).
 *
 *   vterm_feed -t FILE...   one line "NAME<TAB>BYTES<TAB>MB/s", best of 5 runs of >= 16 MB
 *   vterm_feed -o FILE      feed FILE once through feed_all() and print nothing (callgrind)
 */
#include <vterm.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define CHUNK 4096
#define ROWS 24
#define COLS 80
#define HISTORY 176
#define TIMED_BYTES (16u * 1000u * 1000u)
#define RUNS 5

typedef struct {
    VTerm* vt;
    VTermScreen* screen;
    VTermScreenCell history[HISTORY][COLS];
    int historyNext;
    unsigned long damaged;
} Term;

static int onPushLine(int cols, const VTermScreenCell* cells, void* user) {
    Term* t = (Term*)user;
    if (cols > COLS)
        cols = COLS;
    memcpy(t->history[t->historyNext], cells, sizeof(VTermScreenCell) * (size_t)cols);
    t->historyNext = (t->historyNext + 1) % HISTORY;
    return 1;
}

static int onDamage(VTermRect rect, void* user) {
    ((Term*)user)->damaged += (unsigned long)(rect.end_row - rect.start_row);
    return 1;
}

static void onOutput(const char* s, size_t len, void* user) {
    (void)s;
    (void)len;
    (void)user;
}

static VTermScreenCallbacks callbacks = {
    .damage = onDamage,
    .sb_pushline = onPushLine,
};

static Term* termNew(void) {
    Term* t = calloc(1, sizeof(Term));
    t->vt = vterm_new(ROWS, COLS);
    vterm_set_utf8(t->vt, 0); /* the console is 8-bit, as in our terminal */
    vterm_output_set_callback(t->vt, onOutput, t);
    t->screen = vterm_obtain_screen(t->vt);
    vterm_screen_set_callbacks(t->screen, &callbacks, t);
    vterm_screen_set_damage_merge(t->screen, VTERM_DAMAGE_SCROLL);
    vterm_screen_reset(t->screen, 1);
    return t;
}

static void termFree(Term* t) {
    vterm_free(t->vt);
    free(t);
}

static Term* g_term;

static void feedSlices(Term* t, const unsigned char* data, size_t size) {
    while (size > 0) {
        size_t n = size < CHUNK ? size : CHUNK;
        vterm_input_write(t->vt, (const char*)data, n);
        data += n;
        size -= n;
    }
}

__attribute__((noinline)) void feed_all(const unsigned char* data, size_t size) {
    feedSlices(g_term, data, size);
}

static unsigned char* readFile(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fseek(f, 0, SEEK_SET);
    unsigned char* data = malloc(n > 0 ? (size_t)n : 1);
    *size = fread(data, 1, (size_t)n, f);
    fclose(f);
    return data;
}

static const char* baseName(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc < 3 || (strcmp(argv[1], "-t") != 0 && strcmp(argv[1], "-o") != 0)) {
        fprintf(stderr, "usage: vterm_feed -t FILE... | -o FILE\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        size_t size = 0;
        unsigned char* data = readFile(argv[i], &size);
        if (!data || size == 0) {
            fprintf(stderr, "vterm_feed: cannot read %s\n", argv[i]);
            return 1;
        }
        if (argv[1][1] == 'o') {
            g_term = termNew();
            feed_all(data, size);
            termFree(g_term);
            free(data);
            return 0;
        }
        double best = 0;
        for (int run = 0; run < RUNS; ++run) {
            Term* t = termNew();
            unsigned long long fed = 0;
            double start = now();
            while (fed < TIMED_BYTES) {
                feedSlices(t, data, size);
                fed += size;
            }
            double rate = (double)fed / 1e6 / (now() - start);
            if (rate > best)
                best = rate;
            termFree(t);
        }
        printf("%s\t%zu\t%.1f\n", baseName(argv[i]), size, best);
        free(data);
    }
    return 0;
}
