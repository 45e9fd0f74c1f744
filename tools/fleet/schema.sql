-- The factory's table of flashed pagers: one row per line of any bench's
-- log, gathered by rsyslog (bench-shipper.conf on each bench PC,
-- collector.conf beside the database). A line may arrive more than once
-- (a shipper sends again what the collector had not yet acknowledged when
-- the connection broke); its record_id keeps it to one row.
--
--   psql -d factory -f schema.sql
--
-- Safe to run again: it creates only what is missing.

CREATE TABLE IF NOT EXISTS pager_record (
  record_id       uuid PRIMARY KEY,            -- the line's own random id
  station         text NOT NULL,               -- the bench that wrote it
  time            timestamptz NOT NULL,        -- when the update ended
  port            text,
  adapter_serial  text,
  file            text,                        -- the firmware file as named
  sha256          text,                        -- the firmware file's SHA-256
  outcome         text,                        -- finished, or why not
  exit_code       integer,
  message         text,
  seconds         double precision,
  reply_ms        double precision,            -- null when no reply came
  line_efficiency double precision,            -- null when no reply came
  number          integer,                     -- a bench's lines: the running number
  station_start   timestamptz,                 -- a bench's lines: its start
  job             text,                        -- under a job: its name
  job_sha256      text,                        -- under a job: the job file's SHA-256
  quota_left      integer,                     -- under a job: pagers it still allows
  line            jsonb NOT NULL,              -- the whole line, as the bench wrote it
  received        timestamptz NOT NULL DEFAULT now()
);

CREATE INDEX IF NOT EXISTS pager_record_by_station ON pager_record (station, time);
CREATE INDEX IF NOT EXISTS pager_record_by_firmware ON pager_record (sha256);

-- Lines that are not a JSON object (a log edited by hand, a file that was
-- not a bench's log): kept here with the sender's name rather than holding
-- up every line behind them.
CREATE TABLE IF NOT EXISTS rejected_line (
  received  timestamptz NOT NULL DEFAULT now(),
  sender    text,
  line      text NOT NULL,
  reason    text
);

-- Stores one line as the collector received it. A record_id already held
-- is skipped. A line written before lines carried a record_id gets one
-- made from its text, so that it too is stored once however often it
-- comes; one without a station is named for the PC that sent it.
--
-- It runs with its owner's rights: the collector's role needs only the
-- right to call it (see the end), and can neither read nor change a row.
CREATE OR REPLACE FUNCTION store_bench_line(raw text, sender text) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $$
DECLARE
  l jsonb;
BEGIN
  BEGIN
    l := raw::jsonb;
    IF jsonb_typeof(l) <> 'object' THEN
      RAISE invalid_text_representation USING MESSAGE = 'not a JSON object';
    END IF;
    INSERT INTO pager_record (record_id, station, time, port, adapter_serial, file, sha256,
                              outcome, exit_code, message, seconds, reply_ms, line_efficiency,
                              number, station_start, job, job_sha256, quota_left, line)
    VALUES (coalesce((l->>'record_id')::uuid, md5(l::text)::uuid),
            coalesce(l->>'station', sender),
            (l->>'time')::timestamptz,
            l->>'port', l->>'adapter_serial', l->>'file', l->>'sha256', l->>'outcome',
            (l->>'exit_code')::integer, l->>'message', (l->>'seconds')::double precision,
            (l->>'reply_ms')::double precision, (l->>'line_efficiency')::double precision,
            (l->>'number')::integer, (l->>'station_start')::timestamptz,
            l->>'job', l->>'job_sha256', (l->>'quota_left')::integer, l)
    ON CONFLICT (record_id) DO NOTHING;
  EXCEPTION WHEN data_exception OR not_null_violation THEN
    INSERT INTO rejected_line (sender, line, reason) VALUES (sender, raw, SQLERRM);
  END;
END;
$$;

-- Only the roles given it may call it:
--   CREATE ROLE tarvex_collector LOGIN PASSWORD '...';
--   GRANT EXECUTE ON FUNCTION store_bench_line(text, text) TO tarvex_collector;
REVOKE EXECUTE ON FUNCTION store_bench_line(text, text) FROM PUBLIC;
