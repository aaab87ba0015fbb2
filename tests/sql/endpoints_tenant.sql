-- Tenant 1 additions of the endpoint tests: imported coupons of two companies, so that a
-- call that always asks for company 1 shows which rows it got.
INSERT INTO Pos_Venda (cnpj_cpf, dt_movimento, arquivo, nr_ordem, tp_registro, vl_venda, campos)
VALUES
  ('11222333000181', '2016-10-10 00:00:00', 'VENDAS_20161010.txt', 1, 'CUPOM', 35.90,
   '{CUPOM,001,"35,90"}'),
  ('11222333000181', '2016-10-10 00:00:00', 'VENDAS_20161010.txt', 2, 'CUPOM', 12.00,
   '{CUPOM,002,"12,00"}'),
  -- the branch (company 2): never part of the answer
  ('11222333000262', '2016-10-10 00:00:00', 'VENDAS_20161010.txt', 1, 'CUPOM', 99.00,
   '{CUPOM,001,"99,00"}');
