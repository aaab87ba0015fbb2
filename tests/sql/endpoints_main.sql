-- Main database additions of the endpoint tests: money and decimal columns of several
-- scales for the value masks (and one column of another type).
CREATE TABLE produto_valor (
  qt_caixas    numeric(9, 0),
  vl_preco     numeric(15, 2),
  qt_peso      numeric(15, 3),
  vl_custo     money,
  descricao    varchar(40)
);
