// The kind of an integration file.
#ifndef TAMRIX_INTEGRATION_UTIPOARQUIVO_H
#define TAMRIX_INTEGRATION_UTIPOARQUIVO_H

namespace tamrix::integration {

enum TTipoArquivo {
  taNenhum = 0,  // no kind
  taVendas = 1,  // the daily sales file of a point-of-sale terminal
};

}  // namespace tamrix::integration

#endif  // TAMRIX_INTEGRATION_UTIPOARQUIVO_H
