/* Linked only into the statically linked revision command, together with the link options
 * --eh-frame-hdr and --wrap=__register_frame_info/__deregister_frame_info.
 *
 * In a static program the start-up code registers the whole .eh_frame section with the unwinder,
 * and the first exception thrown then sorts every one of its entries (some 15 million
 * instructions: a bad argument cost milliseconds for one error line). Dynamic programs instead
 * find their entries through the sorted search table of the PT_GNU_EH_FRAME header. With the
 * header linked in and the registration turned into nothing here, the static program takes that
 * same path: the unwinder, finding no registered objects, looks the table up through
 * dl_iterate_phdr. */
#include <stddef.h>

struct object;

void __wrap___register_frame_info(const void* begin, struct object* ob);
void* __wrap___deregister_frame_info(const void* begin);

void __wrap___register_frame_info(const void* begin, struct object* ob) {
  (void)begin;
  (void)ob;
}

/* Nothing was registered, so there is nothing to take back. */
void* __wrap___deregister_frame_info(const void* begin) {
  (void)begin;
  return NULL;
}
