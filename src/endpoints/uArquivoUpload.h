// The files UploadFile leaves beside the executable, named by the local date and time.
#ifndef TAMRIX_ENDPOINTS_UARQUIVOUPLOAD_H
#define TAMRIX_ENDPOINTS_UARQUIVOUPLOAD_H

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tamrix::endpoints {

// What the uploaded files may take of their disk.
struct TLimitesUpload {
  std::uint64_t EspacoMaximo = 1ull << 30;  // all uploaded files of the folder together
  std::uint64_t LivreMinimo = 1ull << 30;   // free space the disk must keep after the file
};

// The limits of config.ini ("Servidor"/"EspacoMaximoUploads"), keeping 1 GiB free.
TLimitesUpload LimitesUploadConfigurados();

// Bytes of the uploaded files in pspPasta (ending with "/"): those named
// "yyyy-MM-dd hhnnss.txt" or "yyyy-MM-dd hhnnss-N.txt", each counted in whole 4 KiB blocks
// (an empty one as one block); other files do not count.
std::uint64_t EspacoUploads(const std::string& pspPasta);

// Writes pspConteudo, byte for byte, to a new file in pspPasta (ending with "/") named
// "yyyy-MM-dd hhnnss.txt" after pdMomento in local time. When that name is taken, as by
// another upload within the same second, the name gets a counter: "yyyy-MM-dd hhnnss-2.txt",
// "-3" and so on; an existing file is never replaced, also across processes. Returns the
// path written. Raises diagnostics::Exception when no file can be created or written (a
// partly written file is removed), and, writing nothing, when the file would take the
// uploaded files past limites.EspacoMaximo or leave less than limites.LivreMinimo free on
// the disk; uploads running at once count against each other.
std::string GravarArquivoUpload(const std::string& pspPasta,
                                std::chrono::system_clock::time_point pdMomento,
                                std::string_view pspConteudo, const TLimitesUpload& limites);
// The same with LimitesUploadConfigurados().
std::string GravarArquivoUpload(const std::string& pspPasta,
                                std::chrono::system_clock::time_point pdMomento,
                                std::string_view pspConteudo);

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_UARQUIVOUPLOAD_H
