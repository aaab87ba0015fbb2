-- Compatibility functions so the server's T-SQL texts run unchanged on PostgreSQL.
-- Applied to every test and demo database.

-- GETDATE(): the database server's local date and time (T-SQL datetime keeps milliseconds).
CREATE OR REPLACE FUNCTION getdate() RETURNS timestamp(3)
  LANGUAGE sql STABLE AS $$ SELECT localtimestamp(3) $$;

-- ISNULL(a, b). Declared over anycompatible: bound parameters arrive as varchar, and with
-- anyelement a varchar argument beside a text one would find no match.
CREATE OR REPLACE FUNCTION isnull(anycompatible, anycompatible) RETURNS anycompatible
  LANGUAGE sql IMMUTABLE AS $$ SELECT coalesce($1, $2) $$;

-- Text concatenation with +, null when either side is null (T-SQL's rule; || with a null
-- side is null too, but T-SQL code writes +).
CREATE OR REPLACE FUNCTION tsql_concatenar(text, text) RETURNS text
  LANGUAGE sql IMMUTABLE STRICT AS $$ SELECT $1 || $2 $$;

CREATE OPERATOR + (LEFTARG = text, RIGHTARG = text, FUNCTION = tsql_concatenar);
