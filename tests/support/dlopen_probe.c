/* A small library that the loader tests open by path and by name under an
 * installation root; its one function proves that the right file loaded. */
__attribute__((visibility("default"))) int tkp_probe_answer(void) { return 4242; }
