// The files UploadFile leaves beside the executable, named by the local date and time.
#ifndef TAMRIX_ENDPOINTS_UARQUIVOUPLOAD_H
#define TAMRIX_ENDPOINTS_UARQUIVOUPLOAD_H

#include <chrono>
#include <string>
#include <string_view>

namespace tamrix::endpoints {

// Writes pspConteudo, byte for byte, to a new file in pspPasta (ending with "/") named
// "yyyy-MM-dd hhnnss.txt" after pdMomento in local time. When that name is taken, as by
// another upload within the same second, the name gets a counter: "yyyy-MM-dd hhnnss-2.txt",
// "-3" and so on; an existing file is never replaced, also across processes. Returns the
// path written. Raises diagnostics::Exception when no file can be created or written (a
// partly written file is removed).
std::string GravarArquivoUpload(const std::string& pspPasta,
                                std::chrono::system_clock::time_point pdMomento,
                                std::string_view pspConteudo);

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_UARQUIVOUPLOAD_H
