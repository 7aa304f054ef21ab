-- The read-only role that dashboards (Grafana) log in with. Run once as the
-- database's owner, in the archive's database:
--   psql -d calorivista -f reader-role.sql
--   psql -d calorivista -c "ALTER ROLE calorivista_reader PASSWORD '…'"
-- It may read every table of the archive and change none.
DO $$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'calorivista_reader') THEN
        CREATE ROLE calorivista_reader LOGIN;
    END IF;
END
$$;
ALTER ROLE calorivista_reader SET default_transaction_read_only = on;
ALTER ROLE calorivista_reader SET statement_timeout = '30s';
DO $$
BEGIN
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO calorivista_reader', current_database());
END
$$;
GRANT USAGE ON SCHEMA public TO calorivista_reader;
GRANT SELECT ON calorivista_schema, stations, runs, readings, readings_1s, events, gaps TO calorivista_reader;
