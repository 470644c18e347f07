#include "imaging/JpegCompress.h"

#include "platform/DibCopy.h"

// clang-format off
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace vornesk::jpeg {

namespace {

// The release 6b interface; the structures below are laid out for it.
static_assert(JPEG_LIB_VERSION == 62);

constexpr std::size_t kOutputStep = 4096;

// Everything below holds only trivially destructible objects, and no frame
// between the setjmp in Run() and the longjmp in ErrorExit() owns anything
// with a destructor: the jump skips nothing that needed cleaning up.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

struct Destination {
  jpeg_destination_mgr pub;
  AppendFunction append;
  void* context;
  bool appendFailed;
  JOCTET buffer[kOutputStep];
};

struct State {
  jpeg_compress_struct cinfo;
  ErrorManager error;
  Destination destination;
  const CompressJob* job;
};

void ErrorExit(j_common_ptr cinfo) {
  auto* error = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(error->jump, 1);
}

// Warnings and trace messages never reach the user.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char* buffer) {
  buffer[0] = '\0';
}

void ResetErrorManager(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

void InitDestination(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<Destination*>(cinfo->dest);
  destination->pub.next_output_byte = destination->buffer;
  destination->pub.free_in_buffer = kOutputStep;
}

// Hands `count` bytes to the memory block; a block that cannot take them is
// the library's write error, which ends the compression.
void Deliver(j_compress_ptr cinfo, std::size_t count) {
  auto* destination = reinterpret_cast<Destination*>(cinfo->dest);
  if (!destination->append(destination->context, destination->buffer, count)) {
    destination->appendFailed = true;
    ERREXIT(cinfo, JERR_FILE_WRITE);
  }
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  Deliver(cinfo, kOutputStep);
  InitDestination(cinfo);
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  const std::size_t count = kOutputStep - cinfo->dest->free_in_buffer;
  if (count > 0) Deliver(cinfo, count);
}

// All library calls that can fail. Runs under the setjmp of Run().
void Steps(State& state) {
  jpeg_compress_struct& cinfo = state.cinfo;
  const CompressJob& job = *state.job;

  jpeg_CreateCompress(&cinfo, JPEG_LIB_VERSION, sizeof(jpeg_compress_struct));
  cinfo.dest = &state.destination.pub;
  if (job.width <= 0 || job.height <= 0) return;

  cinfo.image_width = static_cast<JDIMENSION>(job.width);
  cinfo.image_height = static_cast<JDIMENSION>(job.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, job.quality, TRUE);
  if (job.grayscale) jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
  if (job.progressive) jpeg_simple_progression(&cinfo);
  // jpeg_set_defaults picks the integer DCT in libjpeg-turbo; our files are
  // made with the floating-point one.
  cinfo.dct_method = JDCT_FLOAT;
  jpeg_start_compress(&cinfo, TRUE);

  const std::size_t width = static_cast<std::size_t>(job.width);
  JSAMPROW row = job.rowBuffer;
  while (cinfo.next_scanline < cinfo.image_height) {
    // The copy is bottom-up.
    BgrToRgb(job.rows + job.stride * (cinfo.image_height - 1 - cinfo.next_scanline), job.rowBuffer,
             width);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
}

// Nothing here changes between setjmp and a longjmp back to it but the
// library state, which lives in `state` in the caller's frame.
bool Run(State& state) {
  if (setjmp(state.error.jump) != 0) return false;
  Steps(state);
  return true;
}

}  // namespace

CompressOutcome CompressRows(const CompressJob& job) noexcept {
  State state{};
  state.job = &job;

  state.cinfo.err = jpeg_std_error(&state.error.pub);
  state.error.pub.error_exit = ErrorExit;
  state.error.pub.emit_message = EmitMessage;
  state.error.pub.output_message = OutputMessage;
  state.error.pub.format_message = FormatMessage;
  state.error.pub.reset_error_mgr = ResetErrorManager;

  state.destination.pub.init_destination = InitDestination;
  state.destination.pub.empty_output_buffer = EmptyOutputBuffer;
  state.destination.pub.term_destination = TermDestination;
  state.destination.append = job.append;
  state.destination.context = job.appendContext;

  CompressOutcome outcome;
  if (!Run(state)) {
    outcome.status = state.destination.appendFailed ? CompressStatus::kAppendFailed
                                                    : CompressStatus::kLibraryError;
    outcome.messageCode = state.error.pub.msg_code;
  }
  // Safe also when jpeg_CreateCompress failed: the state starts zeroed, so
  // the library finds no memory manager to release.
  jpeg_destroy(reinterpret_cast<j_common_ptr>(&state.cinfo));
  return outcome;
}

}  // namespace vornesk::jpeg
