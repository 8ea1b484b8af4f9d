// extra_desc: a small record of three numbers and three texts, kept in singly
// linked lists and stored in tagged line files:
//
//   #E 1 2 3      the numbers; starts a record
//   #A text       a_text, the rest of the line
//   #S text       s_text, the rest of the line
//   #L text;      l_text, up to the semicolon (it may span lines)
//   #end          the end of the list
//
// Records come from one process-wide vorn_bulk_pool ("struct extra_desc", 64 KiB
// blocks) and go back to it; the pool's memory is never returned. A record owns
// its three texts (malloc'ed, freed by extra_desc_free()); a list owns its
// records. Lists are passed as the address of their head pointer.
//
// Threads: the pool is guarded, so records may be made and freed on any thread;
// a list belongs to one thread at a time.
#ifndef VIRELAN_SUPPORT_EXTRA_DESC_H
#define VIRELAN_SUPPORT_EXTRA_DESC_H

#include <cstdio>

struct extra_desc {
  int e1;
  int e2;
  int e3;
  char *s_text;  // each text is malloc'ed, or null when not set
  char *l_text;
  char *a_text;
  extra_desc *next;
};

// A cleared record (numbers 0, no texts, no next); never null (the pool ends
// the process when memory runs out).
extra_desc *extra_desc_new();
// Frees the record's texts and returns it to the pool; `next` is not followed.
void extra_desc_free(extra_desc *record);

// Frees every record of the list; the head becomes null.
void extra_list_free(extra_desc **list);
// Replaces the destination list by a copy (numbers and texts) of `source`. The
// copy is made before the old list is freed, so a list may be copied onto
// itself. 1 on success; 0 when a text could not be copied, with the
// destination left as it was.
int extra_list_copy(extra_desc **destination, const extra_desc *source);
// Hangs the chain `records` after the last record of the list. 0 (and nothing
// changed) when the two already share records, which would make a cycle.
int extra_list_append(extra_desc **list, extra_desc *records);

// Frees the list, then reads records until "#end" or the end of the stream.
// "#E" always starts a record; "#A", "#S" and "#L" belong to the current record
// when they follow its earlier items in the order E, A, S, L, and otherwise
// start a record of their own. Any other tag is reported and ends the reading.
// Returns the number of records read; the list holds them in file order.
int fget_extra_list(std::FILE *stream, extra_desc **list);

// Frees the list, then reads records of a "#" line (into s_text) followed by a
// text ended by "~" (into l_text; see fget_tilde_text), until the end of the
// stream or a "#" line whose first word is "END" (any case). Returns the number
// of records read.
int fget_pair_list(std::FILE *stream, extra_desc **list);

// Writes the list in the format above, ending with "#end". The "#E" line of a
// record with a text and three zeros is left out, unless without it the
// record's first text would be read as part of the record before. Texts must
// not hold line ends (A and S) or a semicolon (L) to read back the same. 1 when
// every write succeeded.
int fput_extra_list(std::FILE *stream, const extra_desc *list);

#endif  // VIRELAN_SUPPORT_EXTRA_DESC_H
