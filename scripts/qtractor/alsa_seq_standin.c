/* A stand-in for the ALSA sequencer, preloaded into Qtractor on machines
 * whose kernel has none: every call succeeds with an empty sequencer (no
 * other clients, no events), so Qtractor's audio engine starts on JACK. */
#include <errno.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

typedef struct snd_seq snd_seq_t;
static int dummy_handle;
static int wake_pipe[2] = {-1, -1};

int snd_seq_open(snd_seq_t **seq, const char *name, int streams, int mode) {
  (void)name, (void)streams, (void)mode;
  if (wake_pipe[0] < 0 && pipe(wake_pipe) != 0) return -ENOMEM;
  *seq = (snd_seq_t *)&dummy_handle;
  return 0;
}
int snd_seq_close(snd_seq_t *seq) { (void)seq; return 0; }
int snd_seq_client_id(snd_seq_t *seq) { (void)seq; return 128; }
int snd_seq_set_client_name(snd_seq_t *seq, const char *name) { (void)seq, (void)name; return 0; }
static int next_port;
int snd_seq_create_simple_port(snd_seq_t *seq, const char *name, unsigned caps, unsigned type) {
  (void)seq, (void)name, (void)caps, (void)type;
  return next_port++;
}
int snd_seq_delete_simple_port(snd_seq_t *seq, int port) { (void)seq, (void)port; return 0; }
static int next_queue;
int snd_seq_alloc_queue(snd_seq_t *seq) { (void)seq; return next_queue++; }
int snd_seq_free_queue(snd_seq_t *seq, int q) { (void)seq, (void)q; return 0; }
int snd_seq_control_queue(snd_seq_t *seq, int q, int type, int value, void *ev) {
  (void)seq, (void)q, (void)type, (void)value, (void)ev;
  return 0;
}
int snd_seq_drain_output(snd_seq_t *seq) { (void)seq; return 0; }
int snd_seq_drop_input(snd_seq_t *seq) { (void)seq; return 0; }
int snd_seq_drop_output(snd_seq_t *seq) { (void)seq; return 0; }
int snd_seq_event_input(snd_seq_t *seq, void **ev) { (void)seq; *ev = 0; return -EAGAIN; }
int snd_seq_event_input_pending(snd_seq_t *seq, int fetch) { (void)seq, (void)fetch; return 0; }
int snd_seq_event_output(snd_seq_t *seq, void *ev) { (void)seq, (void)ev; return 0; }
int snd_seq_event_output_direct(snd_seq_t *seq, void *ev) { (void)seq, (void)ev; return 0; }
int snd_seq_get_any_client_info(snd_seq_t *seq, int client, void *info) { (void)seq, (void)client, (void)info; return -ENOENT; }
int snd_seq_get_any_port_info(snd_seq_t *seq, int c, int p, void *info) { (void)seq, (void)c, (void)p, (void)info; return -ENOENT; }
int snd_seq_get_port_info(snd_seq_t *seq, int port, void *info) { (void)seq, (void)port, (void)info; return 0; }
int snd_seq_set_port_info(snd_seq_t *seq, int port, void *info) { (void)seq, (void)port, (void)info; return 0; }
int snd_seq_get_queue_status(snd_seq_t *seq, int q, void *status) { (void)seq, (void)q, (void)status; return 0; }
int snd_seq_get_queue_tempo(snd_seq_t *seq, int q, void *tempo) { (void)seq, (void)q, (void)tempo; return 0; }
int snd_seq_set_queue_tempo(snd_seq_t *seq, int q, void *tempo) { (void)seq, (void)q, (void)tempo; return 0; }
int snd_seq_set_queue_timer(snd_seq_t *seq, int q, void *timer) { (void)seq, (void)q, (void)timer; return 0; }
int snd_seq_poll_descriptors_count(snd_seq_t *seq, short events) { (void)seq, (void)events; return 1; }
int snd_seq_poll_descriptors(snd_seq_t *seq, struct pollfd *pfds, unsigned space, short events) {
  (void)seq;
  if (space < 1) return 0;
  pfds[0].fd = wake_pipe[0]; /* never readable: no events ever arrive */
  pfds[0].events = events;
  pfds[0].revents = 0;
  return 1;
}
int snd_seq_query_next_client(snd_seq_t *seq, void *info) { (void)seq, (void)info; return -ENOENT; }
int snd_seq_query_next_port(snd_seq_t *seq, void *info) { (void)seq, (void)info; return -ENOENT; }
int snd_seq_query_port_subscribers(snd_seq_t *seq, void *subs) { (void)seq, (void)subs; return -ENOENT; }
int snd_seq_remove_events(snd_seq_t *seq, void *rmp) { (void)seq, (void)rmp; return 0; }
int snd_seq_subscribe_port(snd_seq_t *seq, void *sub) { (void)seq, (void)sub; return 0; }
int snd_seq_unsubscribe_port(snd_seq_t *seq, void *sub) { (void)seq, (void)sub; return 0; }
int snd_timer_query_open(void **handle, const char *name, int mode) { (void)handle, (void)name, (void)mode; return -ENOENT; }
