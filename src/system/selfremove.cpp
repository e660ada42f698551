// The texts of the self-removal helpers: composed here, started by the
// platform's RemoveSelf.
#include "system/selfremove.h"

#include <cstdio>
#include <cstring>

int MakeBatchName(const char* temp_dir, unsigned long tick, const char* extension, char* path,
                  int size) {
  int length = snprintf(path, size, "%sDMX%04X%s", temp_dir, (unsigned)(tick & 0xFFFF), extension);
  if (length < 0 || length >= size) {
    if (size > 0) path[0] = '\0';
    return 0;
  }
  return length;
}

namespace {

// A text composed in the caller's buffer. What does not fit, terminator
// included, marks it as cut; a cut text is never delivered.
struct Text {
  char* data;
  int size;
  int length;
  bool cut;
};

void Add(Text* text, char c) {
  if (text->length + 1 < text->size)
    text->data[text->length++] = c;
  else
    text->cut = true;
}

void Add(Text* text, const char* begin, const char* end) {
  for (; begin < end; ++begin) Add(text, *begin);
}

void Add(Text* text, const char* words) { Add(text, words, words + strlen(words)); }

// The length of the text, or 0 with an empty buffer when it was cut.
int Deliver(Text* text) {
  if (text->cut) text->length = 0;
  if (text->size > 0) text->data[text->length] = '\0';
  return text->length;
}

// A path in a batch file: '%' becomes "%%", which the command interpreter
// turns back into one '%'.
void AddBatchPath(Text* text, const char* begin, const char* end) {
  for (; begin < end; ++begin) {
    if (*begin == '%') Add(text, '%');
    Add(text, *begin);
  }
}

void AddBatchPath(Text* text, const char* path) { AddBatchPath(text, path, path + strlen(path)); }

// 'text' for the shell: every quote closes the quoting, is escaped and
// reopens it, so that nothing inside is expanded.
void AddShellWord(Text* text, const char* begin, const char* end) {
  Add(text, '\'');
  for (; begin < end; ++begin) {
    if (*begin == '\'')
      Add(text, "'\\''");
    else
      Add(text, *begin);
  }
  Add(text, '\'');
}

void AddShellWord(Text* text, const char* word) { AddShellWord(text, word, word + strlen(word)); }

}  // namespace

int ComposeRemovalBatch(const char* module_file, const char* batch_path, char* text, int size) {
  Text out = {text, size, 0, false};
  const char* last = strrchr(module_file, '\\');
  if (!last) out.cut = true;  // no directory to remove
  if (!out.cut) {
    Add(&out, ":Repeat\r\ndel \"");
    AddBatchPath(&out, module_file);
    Add(&out, "\"\r\nif exist \"");
    AddBatchPath(&out, module_file);
    Add(&out, "\" goto Repeat\r\nrmdir \"");
    AddBatchPath(&out, module_file, last);
    Add(&out, "\"\r\ndel \"");
    AddBatchPath(&out, batch_path);
    Add(&out, "\"\r\n");
  }
  return Deliver(&out);
}

int ComposeRemovalScript(long process_id, const char* module_file, const char* script_path,
                         char* text, int size) {
  Text out = {text, size, 0, false};
  const char* last = strrchr(module_file, '/');
  if (!last) out.cut = true;
  if (!out.cut) {
    char pid[24];
    snprintf(pid, sizeof pid, "%ld", process_id);
    // A zombie has no /proc/<pid>/exe: it has ended as far as its file goes.
    Add(&out, "#!/bin/sh\nwhile kill -0 ");
    Add(&out, pid);
    Add(&out, " 2>/dev/null && [ -e /proc/");
    Add(&out, pid);
    Add(&out, "/exe ]; do sleep 1; done\nrm -f -- ");
    AddShellWord(&out, module_file);
    Add(&out, "\nrmdir -- ");
    if (last == module_file)
      AddShellWord(&out, "/");
    else
      AddShellWord(&out, module_file, last);
    Add(&out, " 2>/dev/null\nrm -f -- ");
    AddShellWord(&out, script_path);
    Add(&out, "\n");
  }
  return Deliver(&out);
}
