-- Main database of the demo, loaded after tests/sql/main.sql (which makes the tables): the
-- tenant directory holds the two demo stores instead of the test tenants. Credentials are
-- those of the cluster's login role (dba_erp1 / ERP;{semHA}), scrambled.

DELETE FROM ConfigBD;

INSERT INTO ConfigBD (token, ip_bd, instancia, nome_bd, usuario_bd, senha_bd) VALUES
  ('DEMO-LOJA1-2016', '127.0.0.1', NULL, 'tamrix_demo_loja1', 'dnt5VV5kZEM=', 'V2toMXRlWX9hWXM='),
  ('DEMO-LOJA2-2016', '127.0.0.1', NULL, 'tamrix_demo_loja2', 'dnt5VV5kZEM=', 'V2toMXRlWX9hWXM=');
