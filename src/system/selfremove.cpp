// The texts of the self-removal helpers: composed here, started by the
// platform's RemoveSelf.
#include "system/selfremove.h"

#include <cstdio>
#include <cstring>
#include <string>

int MakeBatchName(const char* temp_dir, unsigned long tick, const char* extension, char* path,
                  int size) {
  int length = snprintf(path, size, "%sDMX%04X%s", temp_dir, (unsigned)(tick & 0xFFFF), extension);
  if (length < 0 || length >= size) {
    if (size > 0) path[0] = '\0';
    return 0;
  }
  return length;
}

// Appends the text of a batch argument: '%' becomes "%%", which the command
// interpreter turns back into one '%'.
static void AppendBatchPath(std::string& out, const char* path) {
  for (; *path; ++path) {
    if (*path == '%') out += '%';
    out += *path;
  }
}

static int Deliver(const std::string& composed, char* text, int size) {
  if (composed.size() + 1 > (size_t)size) {
    if (size > 0) text[0] = '\0';
    return 0;
  }
  memcpy(text, composed.c_str(), composed.size() + 1);
  return (int)composed.size();
}

int ComposeRemovalBatch(const char* module_file, const char* batch_path, char* text, int size) {
  const char* last = strrchr(module_file, '\\');
  if (!last) {
    if (size > 0) text[0] = '\0';
    return 0;
  }
  std::string directory(module_file, last);
  std::string out = ":Repeat\r\ndel \"";
  AppendBatchPath(out, module_file);
  out += "\"\r\nif exist \"";
  AppendBatchPath(out, module_file);
  out += "\" goto Repeat\r\nrmdir \"";
  AppendBatchPath(out, directory.c_str());
  out += "\"\r\ndel \"";
  AppendBatchPath(out, batch_path);
  out += "\"\r\n";
  return Deliver(out, text, size);
}

// 'text' for the shell: every quote closes the quoting, is escaped and
// reopens it, so that nothing inside is expanded.
static void AppendShellWord(std::string& out, const char* word) {
  out += '\'';
  for (; *word; ++word) {
    if (*word == '\'')
      out += "'\\''";
    else
      out += *word;
  }
  out += '\'';
}

int ComposeRemovalScript(long process_id, const char* module_file, const char* script_path,
                         char* text, int size) {
  const char* last = strrchr(module_file, '/');
  if (!last) {
    if (size > 0) text[0] = '\0';
    return 0;
  }
  std::string directory = last == module_file ? std::string("/") : std::string(module_file, last);
  std::string pid = std::to_string(process_id);
  // A zombie has no /proc/<pid>/exe: it has ended as far as its file goes.
  std::string out = "#!/bin/sh\nwhile kill -0 " + pid + " 2>/dev/null && [ -e /proc/" + pid +
                    "/exe ]; do sleep 1; done\nrm -f -- ";
  AppendShellWord(out, module_file);
  out += "\nrmdir -- ";
  AppendShellWord(out, directory.c_str());
  out += " 2>/dev/null\nrm -f -- ";
  AppendShellWord(out, script_path);
  out += "\n";
  return Deliver(out, text, size);
}
