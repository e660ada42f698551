// What both packers share: writing a job's stretch of the archive and
// telling what happened to its members, in archive order.
#include "archive/pack.h"

#include "codec/encoder.h"

void ResetJob(PackJob* job) {
  job->text_size = 0;
  job->notes_size = 0;
  job->failure = 0;
  job->input = nullptr;
  job->size = 0;
  job->result = COMPRESS_OK;
  job->coded_size = 0;
  job->name[0] = '\0';
}

void NoteFailure(ArchiveOutput* output, int result) {
  if (output->failure == 0) output->failure = result;
}

void WriteToArchive(void* context, const uint8_t* bytes, size_t size) {
  fwrite(bytes, 1, size, static_cast<ArchiveOutput*>(context)->archive);
}

void WriteJobStart(ArchiveOutput* output, const PackJob* job) {
  fwrite(job->text, 1, job->text_size, output->archive);
  for (size_t at = 0; at < job->notes_size;) {
    const char* note = job->notes + at;
    if (note[0] == NOTE_STATUS) {
      StatusPrintf(output->window, "%s", note + 1);
    } else if (note[0] == NOTE_EMPTY) {
      ReportPacked(note + 1, 0, 0);
      ProgressUpdate(++output->files_done, output->bytes_done);
    } else {
      MessagePrintf("%s", note + 1);
    }
    while (job->notes[at++] != '\0') {
    }
  }
  NoteFailure(output, job->failure);
  if (job->size != 0) {
    uint8_t header[4];
    MakeSizeHeader(job->size, header);
    fwrite(header, 1, 4, output->archive);
  }
}

void WriteJobEnd(ArchiveOutput* output, const PackJob* job) {
  if (job->size == 0) return;
  ReportPacked(job->name, job->size, job->coded_size);
  output->files_done += 1;
  output->bytes_done += job->size;
  ProgressUpdate(output->files_done, output->bytes_done);
  if (job->result == COMPRESS_SHORT_INPUT) {
    MessagePrintf("File %s shrank while it was archived; its member is incomplete.", job->name);
    NoteFailure(output, 1);
  }
}
