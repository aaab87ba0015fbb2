-- Rows of tenant 1 (token TkLoja1-7F3A9C): Mercado Tamrix, a supermarket in São Paulo.

INSERT INTO Cidade (cd_cidade, nome, cd_estado, ddd) VALUES
  (3550308, 'São Paulo', 'SP', '11'),
  (3509502, 'Campinas', 'SP', '19'),
  (3106200, 'Belo Horizonte', 'MG', '31'),
  (4106902, 'Curitiba', 'PR', '41');

INSERT INTO Cadastro (cd_cadastro, razao, fantasia, cgc_cpf, dt_cadastro, endereco, numero,
                      complemento, bairro, cd_cidade, cep, fone, inscricao_est) VALUES
  -- the company of most users
  (1, 'MERCADO TAMRIX COMERCIO DE ALIMENTOS LTDA', 'MERCADO TAMRIX', '11.222.333/0001-81',
   '2015-03-02 09:15:00', 'AV. PAULISTA   ', '1578', 'LOJA 2', 'BELA VISTA', 3550308,
   '01310-200   ', '(11) 3251-4000', '110.042.490.114  '),
  -- a branch whose address has no number
  (2, 'MERCADO TAMRIX FILIAL CAMPINAS LTDA', 'TAMRIX CAMPINAS', '11.222.333/0002-62',
   '2016-07-11 14:00:00', 'RUA BARAO DE JAGUARA  ', NULL, NULL, 'CENTRO', 3509502,
   '13015-001', '(19) 3232-1100', '244.512.887.110'),
  -- customers and suppliers
  (15, 'JOSE DA SILVA', NULL, '123.456.789-09', '2016-01-20 10:30:00', 'RUA DAS FLORES', '45',
   'CASA 2', 'JARDIM AMERICA', 3550308, '01455-000', '(11) 98765-4321', NULL),
  (16, 'MARIA APARECIDA SILVA SANTOS', 'MERCEARIA DA MARIA', '987.654.321-00',
   '2016-02-03 08:00:00', 'RUA TIRADENTES', '900', NULL, 'CENTRO', 3106200, '30160-041',
   '(31) 3222-0101', NULL),
  (17, 'PADARIA "PAO QUENTE" LTDA', 'PAO QUENTE', '04.252.011/0001-10', '2016-04-15 07:45:00',
   'RUA XV DE NOVEMBRO', '300', 'SALA 1', 'CENTRO', 4106902, '80020-310', '(41) 3023-3000',
   '901.234.567-89'),
  (18, 'DISTRIBUIDORA D''AVILA E FILHOS LTDA', 'D''AVILA', '33.000.167/0001-01',
   '2016-05-09 11:20:00', 'ROD. ANHANGUERA KM 104', 'S/N', NULL, 'DISTRITO INDUSTRIAL',
   3509502, '13065-900', '(19) 3772-8800', '244.009.988.117'),
  -- a registry row whose city is missing (searches that join Cidade drop it)
  (19, 'SILVA & SOUZA REPRESENTACOES LTDA', 'SILVA SOUZA', '45.997.418/0001-53',
   '2016-06-01 16:00:00', 'RUA SEM CIDADE', '10', NULL, 'CENTRO', NULL, NULL, NULL, NULL),
  -- a razao with a backslash and one with accents
  (20, 'IMPORTADORA BARRA\SUL LTDA', 'BARRA SUL', '12.345.678/0001-95', '2016-08-22 13:10:00',
   'AV. BRASIL', '2000', NULL, 'PORTO', 4106902, '80010-000', NULL, NULL),
  (21, 'AÇOUGUE SÃO JOÃO LTDA', 'AÇOUGUE SÃO JOÃO', '27.865.757/0001-02', '2016-09-30 06:30:00',
   'RUA DA CONCEIÇÃO', '77', NULL, 'SÉ', 3550308, '01016-000', '(11) 3105-7070', NULL),
  -- a registry row without razao
  (22, NULL, 'CLIENTE BALCAO', '000.000.001-91', '2016-10-01 12:00:00', 'RUA AUGUSTA', '1200',
   NULL, 'CONSOLACAO', 3550308, '01304-001', NULL, NULL);

INSERT INTO Usuario (cd_usuario, nome, login, senha, cd_gusuario, cd_empresa, cd_atendente,
                     cd_cidade, usuario_pdv) VALUES
  (1, 'ADMINISTRADOR', 'ADMIN', 'admin123', 1, 1, NULL, 3550308, 'N'),
  (2, 'MARIA CAIXA', 'MARIA', 'caixa01', 2, 1, 12, 3550308, 'S'),
  -- works for the branch without an address number, lives in a city that is not registered
  (3, 'PEDRO CAIXA', 'PEDRO', 'caixa02', 2, 2, 13, 9999999, 'S'),
  -- 4464 = 70000 - 65536: reached when a user code of 70000 is bound through its low 16 bits
  (4464, 'JOAO PDV', 'JOAO', 'pdv4464', 2, 1, 14, 3509502, 'S'),
  -- two users with the same login and password
  (7, 'GERENTE LOJA', 'GERENTE', 'ger2016', 1, 1, NULL, 3550308, 'N'),
  (8, 'GERENTE SUBSTITUTO', 'GERENTE', 'ger2016', 1, 1, NULL, 3550308, 'N');

INSERT INTO Item (cd_item, descricao, unidade, id_grupo, dt_alteracao) VALUES
  (1001, 'ARROZ TIPO 1 5KG', 'PCT', 10, '2016-10-01 08:00:00'),
  (1002, 'FEIJAO CARIOCA 1KG', 'PCT', 10, '2016-10-01 08:00:00'),
  (1003, 'ACUCAR REFINADO 1KG', 'PCT', 10, '2016-10-05 08:00:00'),
  (2001, 'REFRIGERANTE COLA 2L', 'UN', 20, '2016-10-07 08:00:00'),
  (2002, 'AGUA MINERAL 500ML', 'UN', 20, '2016-10-09 08:00:00'),
  (3001, 'SABAO EM PO 1KG', 'CX', 30, '2016-09-15 08:00:00');

INSERT INTO TabPreco (cd_tabpreco, descricao) VALUES
  ('001', 'VAREJO'),
  ('002', 'ATACADO');

INSERT INTO TabPrecoItem (cd_tabpreco, cd_item, vl_preco, dt_alteracao) VALUES
  ('001', 1001, 22.90, '2016-10-01 08:00:00'),
  ('001', 1002, 7.49, '2016-10-01 08:00:00'),
  ('001', 1003, 4.29, '2016-10-05 08:00:00'),
  ('001', 2001, 8.99, '2016-10-07 08:00:00'),
  ('001', 2002, 1.99, '2016-10-09 08:00:00'),
  ('002', 1001, 19.90, '2016-10-01 08:00:00'),
  ('002', 2001, 7.50, '2016-10-07 08:00:00');

INSERT INTO PedidoVenda (cd_empresa, nr_pedido, cd_cadastro, dt_pedido, cd_usuario, vl_total) VALUES
  (1, 500, 16, '2016-10-08 10:00:00', 2, 110.95),
  -- one of its items has no Item row
  (1, 501, 17, '2016-10-08 11:30:00', 2, 45.80),
  -- an order without items
  (1, 502, 15, '2016-10-09 09:00:00', 4464, 0),
  -- same number in the other company
  (2, 500, 18, '2016-10-09 15:00:00', 3, 89.90);

INSERT INTO PedidoItem (cd_empresa, nr_pedido, nr_item, cd_item, qt_pedida, vl_unitario, vl_total) VALUES
  (1, 500, 1, 1001, 3, 22.9000, 68.70),
  (1, 500, 2, 1002, 5, 7.4900, 37.45),
  (1, 500, 3, 2002, 2.5, 1.9200, 4.80),
  (1, 501, 1, 2001, 4, 8.9900, 35.96),
  (1, 501, 2, 9999, 2, 4.9200, 9.84),
  (2, 500, 1, 3001, 10, 8.9900, 89.90);

INSERT INTO Bandeira (cd_bandeira, descricao, tp_cartao, ativo) VALUES
  (1, 'VISA', 'C', 'S'),
  (2, 'MASTERCARD', 'C', 'S'),
  (3, 'ELO', 'D', 'S'),
  (4, 'AMERICAN EXPRESS', 'C', 'N'),
  (5, 'HIPERCARD', 'C', 'S');
