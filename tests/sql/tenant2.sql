-- Rows of tenant 2 (token TkLoja2-91C4B0): Farmácia Bem Estar, a drugstore in Porto Alegre.
-- Its spcPDVTabPrecoItem is an older version without the id_grupo parameter.

INSERT INTO Cidade (cd_cidade, nome, cd_estado, ddd) VALUES
  (4314902, 'Porto Alegre', 'RS', '51'),
  (4304606, 'Canoas', 'RS', '51');

INSERT INTO Cadastro (cd_cadastro, razao, fantasia, cgc_cpf, dt_cadastro, endereco, numero,
                      complemento, bairro, cd_cidade, cep, fone, inscricao_est) VALUES
  (1, 'FARMACIA BEM ESTAR LTDA', 'BEM ESTAR', '60.701.190/0001-04', '2014-11-03 09:00:00',
   'AV. IPIRANGA', '6681', 'PREDIO 99', 'PARTENON', 4314902, '90619-900', '(51) 3320-3500',
   '096.123.456-7'),
  (15, 'ANA PAULA FERREIRA', NULL, '111.444.777-35', '2016-03-14 15:00:00', 'RUA DOS ANDRADAS',
   '1001', NULL, 'CENTRO HISTORICO', 4314902, '90020-015', '(51) 99876-1234', NULL),
  (30, 'LABORATORIO SILVA GAUCHO LTDA', 'LAB SILVA', '92.754.738/0001-62', '2016-05-20 10:00:00',
   'RUA GUILHERME SCHELL', '500', NULL, 'CENTRO', 4304606, '92310-000', '(51) 3472-0000', NULL);

INSERT INTO Usuario (cd_usuario, nome, login, senha, cd_gusuario, cd_empresa, cd_atendente,
                     cd_cidade, usuario_pdv) VALUES
  -- same login as tenant 1's administrator, other password
  (1, 'ADMINISTRADOR FARMACIA', 'ADMIN', 'farma2016', 1, 1, NULL, 4314902, 'N'),
  (2, 'LUCIA BALCONISTA', 'LUCIA', 'balcao1', 2, 1, 21, 4314902, 'S');

INSERT INTO Item (cd_item, descricao, unidade, id_grupo, dt_alteracao) VALUES
  (7001, 'DIPIRONA 500MG 10 COMP', 'CX', 70, '2016-10-02 08:00:00'),
  (7002, 'PROTETOR SOLAR FPS 50', 'UN', 71, '2016-10-03 08:00:00');

INSERT INTO TabPreco (cd_tabpreco, descricao) VALUES ('001', 'BALCAO');

INSERT INTO TabPrecoItem (cd_tabpreco, cd_item, vl_preco, dt_alteracao) VALUES
  ('001', 7001, 6.50, '2016-10-02 08:00:00'),
  ('001', 7002, 59.90, '2016-10-03 08:00:00');

INSERT INTO PedidoVenda (cd_empresa, nr_pedido, cd_cadastro, dt_pedido, cd_usuario, vl_total) VALUES
  (1, 500, 15, '2016-10-08 17:00:00', 2, 13.00);

INSERT INTO PedidoItem (cd_empresa, nr_pedido, nr_item, cd_item, qt_pedida, vl_unitario, vl_total) VALUES
  (1, 500, 1, 7001, 2, 6.5000, 13.00);

INSERT INTO Bandeira (cd_bandeira, descricao, tp_cartao, ativo) VALUES
  (1, 'VISA', 'C', 'S'),
  (3, 'ELO', 'D', 'N'),
  (6, 'BANRICOMPRAS', 'D', 'S');

DROP FUNCTION spcPDVTabPrecoItem(integer, varchar, bigint, smallint);
CREATE FUNCTION spcPDVTabPrecoItem(cd_empresa integer, cd_tabpreco varchar, cd_usuario smallint)
  RETURNS SETOF tp_spcpdvtabprecoitem
  LANGUAGE sql STABLE AS $$
  SELECT t.cd_tabpreco, i.cd_item, i.descricao, i.unidade, i.id_grupo, t.vl_preco, $3
    FROM TabPrecoItem t
    JOIN Item i ON (i.cd_item = t.cd_item)
   WHERE t.cd_tabpreco = $2
   ORDER BY i.cd_item
$$;
