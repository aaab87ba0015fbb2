-- Demo rows for a tenant database (schema: tests/sql/tenant.sql). SELECT demo_gerar(n) fills
-- the database of store n with a few hundred rows of plausible Brazilian data; the same n
-- always gives the same rows.

-- Check digits of a CPF (9 digits) or CNPJ (12 digits), appended to the base.
CREATE FUNCTION demo_digitos(base text) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  s text := base;
  pesos int[];
  soma int;
  d int;
  i int;
BEGIN
  FOR rodada IN 1..2 LOOP
    soma := 0;
    IF length(base) = 9 THEN
      FOR i IN 1..length(s) LOOP
        soma := soma + substr(s, i, 1)::int * (length(s) + 2 - i);
      END LOOP;
    ELSE
      pesos := CASE WHEN length(s) = 12 THEN ARRAY[5,4,3,2,9,8,7,6,5,4,3,2]
                    ELSE ARRAY[6,5,4,3,2,9,8,7,6,5,4,3,2] END;
      FOR i IN 1..length(s) LOOP
        soma := soma + substr(s, i, 1)::int * pesos[i];
      END LOOP;
    END IF;
    d := 11 - soma % 11;
    IF d >= 10 THEN d := 0; END IF;
    s := s || d::text;
  END LOOP;
  RETURN s;
END
$$;

CREATE FUNCTION demo_cnpj(n int) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT regexp_replace(demo_digitos(lpad((n * 7919 % 99999999)::text, 8, '0') || '0001'),
                        '(..)(...)(...)(....)(..)', '\1.\2.\3/\4-\5')
$$;

CREATE FUNCTION demo_cpf(n int) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT regexp_replace(demo_digitos(lpad((n * 104729 % 999999999)::text, 9, '0')),
                        '(...)(...)(...)(..)', '\1.\2.\3-\4')
$$;

CREATE FUNCTION demo_gerar(loja int) RETURNS void LANGUAGE plpgsql AS $$
DECLARE
  nomes text[] := ARRAY['JOSE','MARIA','ANA','JOAO','ANTONIO','FRANCISCO','CARLOS','PAULO',
    'PEDRO','LUCAS','LUIZ','MARCOS','LUCIANA','FERNANDA','PATRICIA','ALINE','SANDRA',
    'JULIANA','RAFAEL','BRUNO','CAMILA','ADRIANA','MARCIA','RODRIGO','GABRIEL','LETICIA'];
  sobrenomes text[] := ARRAY['SILVA','SANTOS','OLIVEIRA','SOUZA','RODRIGUES','FERREIRA',
    'ALVES','PEREIRA','LIMA','GOMES','COSTA','RIBEIRO','MARTINS','CARVALHO','ALMEIDA',
    'LOPES','SOARES','FERNANDES','VIEIRA','BARBOSA','ROCHA','DIAS','NASCIMENTO','ARAUJO'];
  ramos text[] := ARRAY['COMERCIO DE ALIMENTOS','DISTRIBUIDORA','MATERIAIS DE CONSTRUCAO',
    'AUTO PECAS','PAPELARIA','PADARIA','MERCEARIA','FARMACIA','TRANSPORTES','CONFECCOES'];
  ruas text[] := ARRAY['RUA DAS FLORES','AV. BRASIL','RUA SETE DE SETEMBRO','RUA XV DE NOVEMBRO',
    'AV. GETULIO VARGAS','RUA TIRADENTES','RUA DOM PEDRO II','AV. INDEPENDENCIA',
    'RUA SANTOS DUMONT','RUA DA CONCEIÇÃO','TRAVESSA SÃO JOSÉ','AV. DOS BANDEIRANTES'];
  bairros text[] := ARRAY['CENTRO','JARDIM AMERICA','VILA NOVA','BELA VISTA','SÃO JOSÉ',
    'BOA VISTA','SANTA CRUZ','INDUSTRIAL','LIBERDADE','JARDIM EUROPA'];
  produtos text[] := ARRAY['ARROZ TIPO 1 5KG','FEIJAO CARIOCA 1KG','ACUCAR REFINADO 1KG',
    'CAFE TORRADO 500G','OLEO DE SOJA 900ML','LEITE INTEGRAL 1L','MACARRAO ESPAGUETE 500G',
    'FARINHA DE TRIGO 1KG','SAL REFINADO 1KG','MOLHO DE TOMATE 340G','BISCOITO MAISENA 400G',
    'REFRIGERANTE COLA 2L','AGUA MINERAL 500ML','SUCO DE LARANJA 1L','CERVEJA LATA 350ML',
    'SABAO EM PO 1KG','DETERGENTE 500ML','AMACIANTE 2L','PAPEL HIGIENICO 12UN',
    'CREME DENTAL 90G','SABONETE 90G','SHAMPOO 350ML','DESODORANTE AEROSOL',
    'DIPIRONA 500MG','PARACETAMOL 750MG','VITAMINA C 1G','PROTETOR SOLAR FPS 50',
    'ALCOOL GEL 500ML','FRALDA INFANTIL M','LENCO UMEDECIDO'];
  unidades text[] := ARRAY['PCT','PCT','PCT','PCT','UN','UN','PCT','PCT','PCT','UN','PCT',
    'UN','UN','UN','UN','CX','UN','UN','PCT','UN','UN','UN','UN','CX','CX','CX','UN','UN',
    'PCT','PCT'];
  cidade_cod int[];
  i int;
  j int;
  item int;
  n_itens int;
  qt numeric;
  vl numeric;
  total numeric;
BEGIN
  PERFORM setseed(0.1 * loja);

  INSERT INTO Cidade (cd_cidade, nome, cd_estado, ddd) VALUES
    (3550308, 'São Paulo', 'SP', '11'), (3509502, 'Campinas', 'SP', '19'),
    (3548708, 'São Bernardo do Campo', 'SP', '11'), (3552205, 'Sorocaba', 'SP', '15'),
    (3304557, 'Rio de Janeiro', 'RJ', '21'), (3303302, 'Niterói', 'RJ', '21'),
    (3106200, 'Belo Horizonte', 'MG', '31'), (3170206, 'Uberlândia', 'MG', '34'),
    (4106902, 'Curitiba', 'PR', '41'), (4113700, 'Londrina', 'PR', '43'),
    (4314902, 'Porto Alegre', 'RS', '51'), (4205407, 'Florianópolis', 'SC', '48'),
    (5300108, 'Brasília', 'DF', '61'), (5208707, 'Goiânia', 'GO', '62'),
    (2927408, 'Salvador', 'BA', '71'), (2611606, 'Recife', 'PE', '81'),
    (2304400, 'Fortaleza', 'CE', '85'), (1302603, 'Manaus', 'AM', '92'),
    (1501402, 'Belém', 'PA', '91'), (2111300, 'São Luís', 'MA', '98');
  SELECT array_agg(cd_cidade ORDER BY cd_cidade) INTO cidade_cod FROM Cidade;

  -- The store itself, then customers and suppliers.
  INSERT INTO Cadastro VALUES (1,
    CASE loja WHEN 1 THEN 'SUPERMERCADO BOA COMPRA LTDA' ELSE 'DROGARIA VIDA SAUDAVEL LTDA' END,
    CASE loja WHEN 1 THEN 'BOA COMPRA' ELSE 'VIDA SAUDAVEL' END,
    demo_cnpj(1000 + loja), '2012-01-10', 'AV. PAULISTA', (1000 + loja * 7)::text, 'LOJA 1',
    'BELA VISTA', 3550308, '01310-100', '(11) 3251-' || (4000 + loja)::text,
    '110.' || (100 + loja)::text || '.490.114');
  FOR i IN 2..220 LOOP
    IF random() < 0.35 THEN
      INSERT INTO Cadastro VALUES (i,
        sobrenomes[1 + (random() * 23)::int] || ' ' || ramos[1 + (random() * 9)::int] || ' LTDA',
        CASE WHEN random() < 0.2 THEN NULL
             ELSE ramos[1 + (random() * 9)::int] || ' ' || sobrenomes[1 + (random() * 23)::int] END,
        demo_cnpj(i * 31 + loja), timestamp '2014-01-01' + random() * interval '1000 days',
        ruas[1 + (random() * 11)::int],
        CASE WHEN random() < 0.1 THEN NULL ELSE (1 + (random() * 2500)::int)::text END,
        CASE WHEN random() < 0.3 THEN 'SALA ' || (1 + (random() * 40)::int)::text END,
        bairros[1 + (random() * 9)::int], cidade_cod[1 + (random() * 19)::int],
        lpad((10000 + (random() * 89999)::int)::text, 5, '0') || '-' ||
          lpad(((random() * 999)::int)::text, 3, '0'),
        '(' || (11 + (random() * 80)::int)::text || ') 3' ||
          lpad(((random() * 999)::int)::text, 3, '0') || '-' ||
          lpad(((random() * 9999)::int)::text, 4, '0'),
        (100 + (random() * 899)::int)::text || '.' || (100 + (random() * 899)::int)::text || '.' ||
          (100 + (random() * 899)::int)::text);
    ELSE
      INSERT INTO Cadastro VALUES (i,
        nomes[1 + (random() * 25)::int] || ' ' || sobrenomes[1 + (random() * 23)::int] || ' ' ||
          sobrenomes[1 + (random() * 23)::int],
        NULL, demo_cpf(i * 17 + loja), timestamp '2014-01-01' + random() * interval '1000 days',
        ruas[1 + (random() * 11)::int], (1 + (random() * 2500)::int)::text,
        CASE WHEN random() < 0.2 THEN 'APTO ' || (11 + (random() * 180)::int)::text END,
        bairros[1 + (random() * 9)::int],
        CASE WHEN random() < 0.05 THEN NULL ELSE cidade_cod[1 + (random() * 19)::int] END,
        lpad((10000 + (random() * 89999)::int)::text, 5, '0') || '-' ||
          lpad(((random() * 999)::int)::text, 3, '0'),
        '(' || (11 + (random() * 80)::int)::text || ') 9' ||
          lpad(((random() * 9999)::int)::text, 4, '0') || '-' ||
          lpad(((random() * 9999)::int)::text, 4, '0'),
        NULL);
    END IF;
  END LOOP;

  INSERT INTO Usuario (cd_usuario, nome, login, senha, cd_gusuario, cd_empresa, cd_atendente,
                       cd_cidade, usuario_pdv) VALUES
    (1, 'ADMINISTRADOR', 'ADMIN', 'admin', 1, 1, NULL, 3550308, 'N'),
    (2, 'CAIXA 01', 'CAIXA01', '1234', 2, 1, 101, 3550308, 'S'),
    (3, 'CAIXA 02', 'CAIXA02', '1234', 2, 1, 102, 3550308, 'S'),
    (4, 'CAIXA 03', 'CAIXA03', '1234', 2, 1, 103, 3509502, 'S'),
    (5, 'GERENTE', 'GERENTE', 'gerente', 1, 1, NULL, 3550308, 'N'),
    (6, 'VENDEDOR EXTERNO', 'VENDEDOR', 'venda', 3, 1, 201, NULL, 'N');

  FOR i IN 1..array_length(produtos, 1) LOOP
    FOR j IN 0..3 LOOP
      INSERT INTO Item (cd_item, descricao, unidade, id_grupo, dt_alteracao) VALUES
        (1000 * (1 + (i - 1) / 10) + i * 4 + j,
         produtos[i] || CASE j WHEN 0 THEN '' ELSE ' ' || (ARRAY['LEVE','PREMIUM','ECONOMICO'])[j] END,
         unidades[i], 10 * (1 + (i - 1) / 5),
         timestamp '2016-09-01' + random() * interval '40 days');
    END LOOP;
  END LOOP;

  INSERT INTO TabPreco VALUES ('001', 'VAREJO'), ('002', 'ATACADO');
  INSERT INTO TabPrecoItem (cd_tabpreco, cd_item, vl_preco, dt_alteracao)
    SELECT '001', cd_item, round((1 + random() * 60)::numeric, 2), dt_alteracao FROM Item;
  INSERT INTO TabPrecoItem (cd_tabpreco, cd_item, vl_preco, dt_alteracao)
    SELECT '002', cd_item, round(vl_preco * 0.88, 2), dt_alteracao
      FROM TabPrecoItem WHERE cd_tabpreco = '001' AND cd_item % 3 <> 0;

  INSERT INTO Bandeira VALUES (1, 'VISA', 'C', 'S'), (2, 'MASTERCARD', 'C', 'S'),
    (3, 'ELO', 'D', 'S'), (4, 'AMERICAN EXPRESS', 'C', 'S'), (5, 'HIPERCARD', 'C', 'N'),
    (6, 'MAESTRO', 'D', 'S');

  FOR i IN 1..80 LOOP
    INSERT INTO PedidoVenda VALUES (1, 1000 + i, 2 + (random() * 218)::int,
      timestamp '2016-10-01 08:00' + random() * interval '9 days', 2 + (random() * 2)::int, 0);
    total := 0;
    n_itens := 1 + (random() * 5)::int;
    FOR j IN 1..n_itens LOOP
      qt := 1 + (random() * 11)::int;
      SELECT t.cd_item, t.vl_preco INTO STRICT item, vl FROM TabPrecoItem t
       WHERE t.cd_tabpreco = '001' ORDER BY random() LIMIT 1;
      INSERT INTO PedidoItem VALUES (1, 1000 + i, j, item, qt, vl, round(qt * vl, 2));
      total := total + round(qt * vl, 2);
    END LOOP;
    UPDATE PedidoVenda SET vl_total = total WHERE cd_empresa = 1 AND nr_pedido = 1000 + i;
  END LOOP;
END
$$;
