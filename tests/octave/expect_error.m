function expect_error (fn, id, text)
  % EXPECT_ERROR  Fails unless fn() raises an error with identifier id (and,
  % when text is given, a message that contains text).
  try
    fn ();
  catch err
    if (! strcmp (err.identifier, id))
      error ("test:wrongError", "expected error %s, got %s: %s", id, err.identifier, err.message);
    end
    if (nargin > 2 && isempty (strfind (err.message, text)))
      error ("test:wrongMessage", "error %s says \"%s\", not \"%s\"", id, err.message, text);
    end
    return;
  end
  error ("test:noError", "expected error %s, but the call succeeded", id);
end
